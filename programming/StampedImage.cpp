#include "programming/StampedImage.h"

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "programming/RunPreflight.h"

StampedImage LoadStampedImage(const std::string& path, const std::string& applicationLength,
                              const DeviceEntry& chip, uint8_t* flashImage, const StepLog& log) {
    const auto step = [&](const std::string& line) {
        if (log) log(line);
    };
    RunParams numbers;
    numbers.Bootloader = applicationLength;
    const RunNumbers checked = CheckRunNumbers(numbers);
    step("loading flash file...");
    StampedImage image;
    image.Size = LoadFlashFile(path, flashImage);
    const std::string chipFlash = ", the " + std::string(chip.Name) + " has " +
                                  std::to_string(chip.FlashSize) + " bytes of flash";
    if (image.Size > chip.FlashSize)
        throw EProgError(errImageTooLarge,
                         path + " ends at byte " + std::to_string(image.Size) + chipFlash);
    step("flash file size is " + std::to_string(image.Size));
    // Only the check value would be written, into an erased chip.
    if (image.Size == 0) throw EProgError(errImageEmpty, path + " holds no data");
    if (checked.BootloaderNotANumber)
        step("bootloader value '" + applicationLength + "' is not a number; using the file size");
    image.Length = checked.ApplicationLength.value_or(image.Size);
    if (image.Length > chip.FlashSize)
        throw EProgError(errImageTooLarge, "application length " + applicationLength + chipFlash);
    // Two bytes or fewer: the check value would land on the reset vector.
    if (image.Length < MinApplicationLength)
        throw EProgError(errImageEmpty, path + " ends at byte " + std::to_string(image.Size) +
                                            ", too short to carry the check value");
    StampCheckValue(flashImage, static_cast<uint32_t>(image.Length));
    image.CheckValue = StoredCheckValue(flashImage, static_cast<uint32_t>(image.Length));
    return image;
}

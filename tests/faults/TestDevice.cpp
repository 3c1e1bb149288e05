#include "tests/faults/TestDevice.h"

#include <fstream>
#include <iterator>
#include <random>

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "link/DeviceTable.h"

namespace {
std::vector<uint8_t> RandomBytes(std::size_t count, std::mt19937& gen) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

// What a good update leaves in the flash: the file as loaded, stamped with its check value.
std::vector<uint8_t> StampedImage(const std::string& firmware, std::size_t flashBytes) {
    FlashImageBuffer image;
    const int32_t size = LoadFlashFile(firmware, image.Data());
    StampCheckValue(image.Data(), static_cast<uint32_t>(size));
    return std::vector<uint8_t>(image.Data(), image.Data() + flashBytes);
}
}  // namespace

TestDevice TestDevice::Make(const std::string& folder, unsigned key) {
    const DeviceEntry* chip = FindDeviceByName(Chip);
    std::mt19937 gen(key);
    TestDevice d;
    d.Folder = folder;
    d.FirmwarePath = folder + "/firmware.bin";
    d.EepromPath = folder + "/eeprom-before.bin";
    d.Eeprom = RandomBytes(static_cast<std::size_t>(chip->EepromSize), gen);
    WriteBytes(d.FirmwarePath, RandomBytes(FirmwareBytes, gen));
    WriteBytes(d.EepromPath, d.Eeprom);
    d.GoodFlash = StampedImage(d.FirmwarePath, static_cast<std::size_t>(chip->FlashSize));
    return d;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

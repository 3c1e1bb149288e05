// image: loads a firmware file as the programming run does and shows what it holds.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/Command.h"
#include "image/CheckValue.h"
#include "image/FirmwareId.h"
#include "image/ImageLoader.h"
#include "link/ImageBuffer.h"
#include "programming/RunPreflight.h"

namespace {
// Decimal, or hexadecimal after "0x"; a leading "-" counts down from 2^32 (as the run would
// take a negative length).
std::optional<uint32_t> ParseLength(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const char* digits = text.c_str() + (negative ? 1 : 0);
    const bool hex = digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex) digits += 2;
    const auto first = static_cast<unsigned char>(*digits);
    if (!(hex ? std::isxdigit(first) : std::isdigit(first))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(digits, &end, hex ? 16 : 10);
    if (*end != '\0' || errno == ERANGE || v > (negative ? 0x80000000ull : 0xFFFFFFFFull))
        return std::nullopt;
    return static_cast<uint32_t>(negative ? 0u - static_cast<uint32_t>(v) : v);
}

// As a run refuses them: an image without data, and a length whose check value would land
// on the reset vector.
void RequireRoomForCheckValue(const std::string& path, int32_t size, uint32_t covered) {
    if (size == 0) throw EProgError(errImageEmpty, path + " holds no data");
    if (covered < static_cast<uint32_t>(MinApplicationLength))
        throw EProgError(errImageEmpty, "length " + std::to_string(covered) +
                                            " leaves no room for the check value; it needs " +
                                            std::to_string(MinApplicationLength) +
                                            " bytes or more");
}

void PrintLine(const char* label, const std::string& text) {
    std::printf("%s ", label);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::printf("\n");
}

int RunImage(const Command& self, const Args& args) {
    if (args.Positionals().size() != 1) return UsageError(self, "exactly one FILE is needed");
    const std::string& path = args.Positionals()[0];
    std::optional<uint32_t> length;
    if (const auto text = args.Option("--length")) {
        length = ParseLength(*text);
        if (!length) return UsageError(self, "--length needs a number, not '" + *text + "'");
    }
    const auto pattern = args.Option("--id");

    FlashImageBuffer flashImage;
    try {
        const int32_t size = LoadFlashFile(path, flashImage.Data());
        // The identifiers are searched in the image as loaded, before the stamp.
        std::string id, bootloader;
        const std::string bootPattern = pattern ? BootloaderPattern(*pattern) : std::string();
        if (pattern) id = FindFirmwareId(flashImage.Data(), size, *pattern, isp::FlashImageSize);
        if (!bootPattern.empty())
            bootloader = FindFirmwareId(flashImage.Data(), size, bootPattern, isp::FlashImageSize);

        std::printf("size %d\n", static_cast<int>(size));
        const uint32_t covered = length ? *length : static_cast<uint32_t>(size);
        RequireRoomForCheckValue(path, size, covered);
        const bool written = StampCheckValue(flashImage.Data(), covered);
        std::printf("check 0x%04X %s\n", StoredCheckValue(flashImage.Data(), covered),
                    written ? "written" : "present");
        if (pattern) PrintLine("id", id);
        if (!bootPattern.empty()) PrintLine("bootloader", bootloader);
    } catch (const EProgError& e) {
        std::fflush(stdout);
        return Failure(GetErrorText(e.Code), e.Detail);
    }
    return ExitOk;
}

const RegisterCommand reg(
    {"image",
     "FILE [--id PATTERN] [--length N]",
     "Load a firmware file as a run would; print its size, check value, identifiers.",
     "  FILE          Intel HEX, or a raw binary when its name ends in .bin (any letter case)\n"
     "  --length N    bytes the check value protects, its own two included, 3 or more\n"
     "                (decimal or 0x..); default: the loaded size\n"
     "  --id PATTERN  firmware identifier to search for (five characters); a \"+\" as the\n"
     "                fourth character also searches the bootloader's, with \"*\" there\n"
     "\n"
     "output, one per line:\n"
     "  size <decimal>                 one past the highest address loaded\n"
     "  check 0x<hex> written|present  the check value; 'present' when the file carried it\n"
     "  id <text>                      with --id: the identifier found, empty when none\n"
     "  bootloader <text>              with a \"+\" pattern: the bootloader's identifier\n"
     "\n"
     "exit codes: 0 loaded, 1 the file could not be loaded, holds no data, or the length is\n"
     "out of range, 2 usage error\n",
     {"--id", "--length"},
     {},
     RunImage});
}  // namespace

#include "programming/RunPreflight.h"

#include "platform/SystemFiles.h"

#include <cerrno>

#include "link/IspLink.h"
#include "link/ProgError.h"
#include "programming/DataFolder.h"
#include "programming/NumberText.h"

namespace {
constexpr int32_t MaxFuse = 0xFF;
constexpr int32_t MaxSpeed = 0xFFFF;

// The value of a strict number field in [0, max], nothing when the field is empty.
std::optional<int32_t> StrictField(const std::string& text, const std::string& what, int32_t max) {
    if (text.empty()) return std::nullopt;
    const auto value = ParseNumber(text);
    if (!value || *value < 0 || *value > max)
        throw EProgError(errBadNumber,
                         what + " '" + text + "' is not a number from 0 to " + std::to_string(max));
    return value;
}

std::optional<uint8_t> Fuse(const std::string& text, const char* name) {
    if (const auto v = StrictField(text, std::string(name) + " fuse", MaxFuse))
        return static_cast<uint8_t>(*v);
    return std::nullopt;
}

[[noreturn]] void FailWrite(int32_t code, const std::string& path, int os) {
    throw OsFailure(code, os, path);
}

// Makes the folder and proves that a file can be created in it (rights, read-only mounts and
// full inode tables all show here), leaving nothing behind.
void RequireWritableFolder(const std::string& folder, int32_t code) {
    if (const int err = MakeFolders(folder)) FailWrite(code, folder, err);
    std::string probe;
    const int fd = sysfile::CreateUnique(folder + "/.write-check-", probe);
    if (fd < 0) FailWrite(code, folder, errno);
    sysfile::Close(fd);
    sysfile::Remove(probe);
}

// An existing record must take one more line; opening it to append changes nothing.
void RequireAppendable(const std::string& path) {
    const int fd = sysfile::Open(path, sysfile::Write | sysfile::Append | sysfile::NonBlocking);
    if (fd < 0) {
        if (errno == ENOENT) return;  // made by the first run
        FailWrite(errDataFolder, path, errno);
    }
    sysfile::Close(fd);
}
}  // namespace

RunNumbers CheckRunNumbers(const RunParams& params) {
    RunNumbers n;
    n.FuseLo = Fuse(params.FuseLo, "Lo");
    n.FuseHi = Fuse(params.FuseHi, "Hi");
    n.FuseEx = Fuse(params.FuseEx, "Ex");
    if (const auto speed = StrictField(params.Speed, "speed", MaxSpeed))
        n.Speed = static_cast<uint16_t>(*speed);
    if (params.Bootloader.empty()) return n;
    const auto length = ParseNumber(params.Bootloader);
    if (!length) {
        n.BootloaderNotANumber = true;
        return n;
    }
    if (*length < MinApplicationLength)
        throw EProgError(errImageEmpty, "application length " + params.Bootloader +
                                            " leaves no room for the check value; it needs " +
                                            std::to_string(MinApplicationLength) +
                                            " bytes or more");
    if (*length > isp::FlashImageSize)
        throw EProgError(errImageTooLarge, "application length " + params.Bootloader +
                                               " is beyond the largest flash, " +
                                               std::to_string(isp::FlashImageSize) + " bytes");
    n.ApplicationLength = *length;
    return n;
}

void CheckDataFolder(const std::string& folder) {
    RequireWritableFolder(folder + "/eeprom", errBackupWrite);
    RequireWritableFolder(folder + "/logs", errDataFolder);
    RequireAppendable(folder + "/runs.jsonl");
}

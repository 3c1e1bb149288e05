#include "programming/RunRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "programming/DataFolder.h"

namespace {
std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// Milliseconds are plenty for a run's duration.
double Rounded(double seconds) {
    return static_cast<double>(std::llround(seconds * 1000)) / 1000;
}

int AppendLocked(int fd, const std::string& text) {
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return errno;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return fdatasync(fd) == 0 ? 0 : errno;
}
}  // namespace

std::string RunRecordLine(const RunRecordInfo& info, const RunOutcome& o) {
    nlohmann::ordered_json j;
    j["time"] = IsoTimeStamp(info.Started);
    j["operation"] = info.Operation;
    j["port"] = info.Port;
    j["chip"] = o.Chip;
    j["firmware"] = info.Firmware;
    j["firmware_id"] = o.FirmwareId;
    j["firmware_id_pattern"] = info.FirmwarePattern;
    j["firmware_id_missing"] = o.FirmwareIdMissing;
    j["image_length"] = o.ImageLength;
    j["check_value"] = Hex4(o.CheckValue);
    j["retries"] = o.Retries;
    j["seconds"] = Rounded(o.Seconds);
    j["code"] = o.Success ? 0 : o.Code;
    j["fuses"] = o.FusesWritten;
    j["outcome"] = o.Success ? std::string("done") : o.Message;
    j["detail"] = o.Detail;
    j["cause"] = CauseText(o.Cause);
    j["device_touched"] = o.DeviceTouched;
    j["eeprom_copy"] = o.EepromCopyPath;
    j["eeprom_saved"] = o.EepromSavedPath;
    j["log"] = o.LogPath;
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int AppendRunRecord(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const int err = AppendLocked(fd, line);
    const int closed = ::close(fd) == 0 ? 0 : errno;  // also releases the lock
    return err != 0 ? err : closed;
}

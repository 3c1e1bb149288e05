#include "programming/RunRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "programming/DataFolder.h"

namespace {
std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool AppendText(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write call per record keeps lines of concurrent runs whole.
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}
}  // namespace

std::string WriteRunLog(const std::string& folder, std::chrono::system_clock::time_point started,
                        const std::vector<std::string>& lines) {
    const std::string dir = folder + "/logs";
    if (!MakeFolders(dir)) return {};
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    const std::string stem = dir + "/run-" + FileTimeStamp(started);
    const std::string path = UnusedPath(stem, ".log");
    return WriteFileDurably(path, text.data(), text.size()) == 0 ? path : std::string();
}

std::string RunRecordLine(std::chrono::system_clock::time_point started, const RunParams& params,
                          const std::string& firmwareId, const RunOutcome& o) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\"image_length\":%d,\"check_value\":\"0x%04X\",\"retries\":%d,"
                  "\"seconds\":%.3f,\"code\":%d,",
                  o.ImageLength, o.CheckValue, o.Retries, o.Seconds, o.Success ? 0 : o.Code);
    return "{\"time\":" + JsonString(IsoTimeStamp(started)) +
           ",\"port\":" + JsonString(params.PortName) + ",\"chip\":" + JsonString(o.Chip) +
           ",\"firmware\":" + JsonString(params.FirmwarePath) +
           ",\"firmware_id\":" + JsonString(firmwareId) + "," + numbers +
           "\"fuses\":" + JsonString(o.FusesWritten) +
           ",\"outcome\":" + JsonString(o.Success ? "done" : o.Message) +
           ",\"device_touched\":" + (o.DeviceTouched ? "true" : "false") +
           ",\"eeprom_copy\":" + JsonString(o.EepromCopyPath) +
           ",\"log\":" + JsonString(o.LogPath) + "}\n";
}

bool AppendRunRecord(const std::string& folder, const std::string& line) {
    return MakeFolders(folder) && AppendText(folder + "/runs.jsonl", line);
}

#include "programming/PendingCopies.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "link/OsErrorText.h"
#include "platform/CalendarTime.h"
#include "platform/SystemFiles.h"
#include "programming/DataFolder.h"
#include "programming/UniqueFile.h"

using nlohmann::json;

namespace {
constexpr const char* RecordName = "/pending-eeprom.json";
constexpr const char* LockName = "/pending-eeprom.lock";

// JSON holds text; a path need not be text. Such a path is kept as hex bytes beside a
// readable form.
bool IsUtf8(const std::string& s) {
    try {
        (void)json(s).dump();
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

std::string ToHex(const std::string& s) {
    std::string hex;
    char cell[3];
    for (const char c : s) {
        std::snprintf(cell, sizeof cell, "%02x", static_cast<unsigned char>(c));
        hex += cell;
    }
    return hex;
}

std::string FromHex(const std::string& hex) {
    std::string s;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return s;
}

std::chrono::system_clock::time_point ParseIso(const std::string& text) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) < 6)
        return {};
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return std::chrono::system_clock::from_time_t(FromUtcCalendar(tm)) +
           std::chrono::milliseconds(ms);
}

json ToJson(const PendingCopy& c) {
    json j;
    j["copy"] = c.Path;
    if (!IsUtf8(c.Path)) j["copy_bytes"] = ToHex(c.Path);
    j["chip"] = c.Chip;
    j["port"] = c.Port;
    j["time"] = IsoTimeStamp(c.Time);
    return j;
}

PendingCopy FromJson(const json& j) {
    PendingCopy c;
    c.Path = j.contains("copy_bytes") ? FromHex(j.at("copy_bytes").get<std::string>())
                                      : j.at("copy").get<std::string>();
    c.Chip = j.at("chip").get<std::string>();
    c.Port = j.at("port").get<std::string>();
    c.Time = ParseIso(j.at("time").get<std::string>());
    return c;
}

// The record is small: one entry per interrupted update. Opened without blocking and read
// only when it is a regular file: a FIFO or device at its path must not hold a run up.
int ReadText(const std::string& path, std::string& text) {
    const int fd = sysfile::Open(path, sysfile::Read | sysfile::NonBlocking);
    if (fd < 0) return errno;
    sysfile::Info st;
    int err = 0;
    if (sysfile::InfoOf(fd, st) != 0)
        err = errno;
    else if (st.Type == sysfile::Kind::Folder)
        err = EISDIR;
    else if (st.Type != sysfile::Kind::Regular)
        err = EINVAL;
    char buffer[4096];
    while (err == 0) {
        const long long n = sysfile::ReadSome(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            err = errno;
    }
    sysfile::Close(fd);
    return err;
}

// Names the file an error is about, when the caller asked.
int Failed(int err, const std::string& file, std::string* failedFile) {
    if (err != 0 && failedFile) *failedFile = file;
    return err;
}

int Load(const std::string& folder, std::vector<PendingCopy>& copies, std::string* failedFile) {
    copies.clear();
    const std::string path = folder + RecordName;
    std::string text;
    if (const int err = ReadText(path, text))
        return err == ENOENT ? 0 : Failed(err, path, failedFile);
    try {
        const json record = json::parse(text);
        for (const json& entry : record.at("pending")) copies.push_back(FromJson(entry));
    } catch (const std::exception&) {
        return Failed(EBADMSG, path, failedFile);
    }
    std::sort(copies.begin(), copies.end(),
              [](const PendingCopy& a, const PendingCopy& b) { return a.Time > b.Time; });
    return 0;
}

int Store(const std::string& folder, const std::vector<PendingCopy>& copies,
          std::string* failedFile) {
    json list = json::array();
    for (const PendingCopy& c : copies) list.push_back(ToJson(c));
    const std::string text =
        json{{"pending", list}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    const std::string path = folder + RecordName;
    return Failed(WriteFileDurably(path, text.data(), text.size()), path, failedFile);
}

// Read, change and replace the record while holding its lock.
template <typename Change>
int Update(const std::string& folder, std::string* failedFile, Change change) {
    if (const int err = MakeFolders(folder)) return Failed(err, folder, failedFile);
    const std::string lockPath = folder + LockName;
    const int lock =
        sysfile::Open(lockPath, sysfile::ReadWrite | sysfile::Create | sysfile::NonBlocking);
    if (lock < 0) return Failed(errno, lockPath, failedFile);
    int err = 0;
    while (sysfile::LockWhole(lock, sysfile::Lock::Exclusive, true) != 0)
        if (errno != EINTR) {
            err = Failed(errno, lockPath, failedFile);
            break;
        }
    std::vector<PendingCopy> copies;
    if (err == 0) err = Load(folder, copies, failedFile);
    if (err == 0 && change(copies)) err = Store(folder, copies, failedFile);
    sysfile::Close(lock);
    return err;
}

// Collects the copy paths of a record up to where it stops making sense.
class CopyCollector : public nlohmann::json_sax<json> {
public:
    std::vector<std::string> Copies;

    bool key(string_t& k) override {
        Key = k;
        return true;
    }
    bool string(string_t& value) override {
        if (Key == "copy") Copies.push_back(value);
        // The exact bytes of a path that is not text stand after its readable form.
        if (Key == "copy_bytes" && !Copies.empty()) KeepExactBytes(value);
        Key.clear();
        return true;
    }
    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool binary(binary_t&) override { return Scalar(); }
    bool start_object(std::size_t) override { return Scalar(); }
    bool end_object() override { return Scalar(); }
    bool start_array(std::size_t) override { return Scalar(); }
    bool end_array() override { return Scalar(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    void KeepExactBytes(const std::string& hex) {
        try {
            Copies.back() = FromHex(hex);
        } catch (const std::exception&) {
            // damaged: the readable form stays
        }
    }
    bool Scalar() {
        Key.clear();
        return true;
    }
    std::string Key;
};
}  // namespace

std::string PendingRecordPath(const std::string& dataFolder) {
    return dataFolder + RecordName;
}

std::string RecordedCopyPath(const std::string& path) {
    return sysfile::NormalPath(path);
}

int ReadPendingCopies(const std::string& dataFolder, std::vector<PendingCopy>& copies,
                      std::string* failedFile) {
    return Load(dataFolder, copies, failedFile);
}

int MarkPending(const std::string& dataFolder, const PendingCopy& copy, std::string* failedFile) {
    PendingCopy mark = copy;
    mark.Path = RecordedCopyPath(copy.Path);
    return Update(dataFolder, failedFile, [&](std::vector<PendingCopy>& copies) {
        for (const PendingCopy& c : copies)
            if (c.Path == mark.Path) return false;
        copies.push_back(mark);
        return true;
    });
}

int ClearPending(const std::string& dataFolder, const std::vector<std::string>& copyPaths,
                 std::string* failedFile) {
    std::vector<std::string> gone;
    for (const std::string& p : copyPaths) gone.push_back(RecordedCopyPath(p));
    // Most runs have no mark to clear: they leave the record and its lock alone.
    std::vector<PendingCopy> now;
    if (Load(dataFolder, now, nullptr) == 0 &&
        std::none_of(now.begin(), now.end(), [&](const PendingCopy& c) {
            return std::find(gone.begin(), gone.end(), c.Path) != gone.end();
        }))
        return 0;
    return Update(dataFolder, failedFile, [&](std::vector<PendingCopy>& copies) {
        const auto before = copies.size();
        copies.erase(std::remove_if(copies.begin(), copies.end(),
                                    [&](const PendingCopy& c) {
                                        return std::find(gone.begin(), gone.end(), c.Path) !=
                                               gone.end();
                                    }),
                     copies.end());
        return copies.size() != before;
    });
}

int CheckPendingRecord(const std::string& dataFolder, std::string* failedFile) {
    return Update(dataFolder, failedFile, [](std::vector<PendingCopy>&) { return false; });
}

std::string PendingRecordReason(int err) {
    if (err == EBADMSG) return "not a record of pending copies (cut short or damaged)";
    if (err == EINVAL) return "not a regular file";
    return OsErrorText(err);
}

EProgError PendingRecordFailure(int err, const std::string& file) {
    EProgError e(errPendingRecord, "File: " + file + ": " + PendingRecordReason(err));
    e.OsError = static_cast<uint32_t>(err);
    return e;
}

std::vector<std::string> SalvagePendingCopies(const std::string& dataFolder) {
    std::string text;
    if (ReadText(dataFolder + RecordName, text) != 0) return {};
    CopyCollector collector;
    json::sax_parse(text, &collector);
    return collector.Copies;
}

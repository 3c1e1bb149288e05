// What the core relies on from files, on every system: an exclusive create, a replace that
// readers survive, whole-file locks that never keep anyone from reading, a file's identity and
// state, appends that stay whole, and UTF-8 names.
#include "platform/SystemFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "tests/support/TempFolder.h"

namespace {
std::string ReadAll(int fd) {
    std::string text;
    char chunk[256];
    for (long long n; (n = sysfile::ReadSome(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    return text;
}

void Put(const std::string& path, const std::string& text) {
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << text;
}

std::string Get(const std::string& path) {
    const int fd = sysfile::Open(path, sysfile::Read);
    if (fd < 0) return "(cannot open)";
    const std::string text = ReadAll(fd);
    sysfile::Close(fd);
    return text;
}
}  // namespace

TEST(SystemFiles, ExclusiveCreateRefusesATakenName) {
    TempFolder temp;
    const std::string path = temp.File("claimed.bin");
    const int first = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Exclusive);
    ASSERT_GE(first, 0);
    EXPECT_EQ(sysfile::WriteSome(first, "abc", 3), 3);
    EXPECT_EQ(sysfile::Close(first), 0);
    errno = 0;
    EXPECT_EQ(sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Exclusive), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Get(path), "abc");
}

TEST(SystemFiles, MissingFilesAndFoldersAreToldApart) {
    TempFolder temp;
    errno = 0;
    EXPECT_EQ(sysfile::Open(temp.File("missing.hex"), sysfile::Read), -1);
    EXPECT_EQ(errno, ENOENT);
    sysfile::Info info;
    EXPECT_EQ(sysfile::InfoAt(temp.File("missing.hex"), info), -1);
    // A folder opens for reading and says what it is, so callers can name it.
    const int fd = sysfile::Open(temp.Path, sysfile::Read | sysfile::NonBlocking);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(sysfile::InfoOf(fd, info), 0);
    EXPECT_EQ(info.Type, sysfile::Kind::Folder);
    sysfile::Close(fd);
    ASSERT_EQ(sysfile::InfoAt(temp.Path, info), 0);
    EXPECT_EQ(info.Type, sysfile::Kind::Folder);
}

TEST(SystemFiles, ReplaceIsSeenWholeAndSparesItsReaders) {
    TempFolder temp;
    const std::string path = temp.File("record.json"), next = temp.File("record.json.tmp");
    Put(path, "old");
    sysfile::Info before;
    ASSERT_EQ(sysfile::InfoAt(path, before), 0);
    const int reader = sysfile::Open(path, sysfile::Read);
    ASSERT_GE(reader, 0);
    Put(next, "newer");
    // Windows lets the replace wait until the reader is done; POSIX replaces at once.
    int replaced = -1, error = 0;
    std::thread replace([&] {
        replaced = sysfile::ReplaceWith(next, path);
        error = errno;
    });
    EXPECT_EQ(ReadAll(reader), "old");  // the open file is the old one, whole
    sysfile::Close(reader);
    replace.join();
    ASSERT_EQ(replaced, 0) << error;
    EXPECT_EQ(Get(path), "newer");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(next)));
    sysfile::Info after;
    ASSERT_EQ(sysfile::InfoAt(path, after), 0);
    EXPECT_EQ(after.Type, sysfile::Kind::Regular);
    EXPECT_EQ(after.Size, 5);
    EXPECT_NE(after.Number, before.Number);  // another file under the old name
}

TEST(SystemFiles, StateStaysUntilTheFileChanges) {
    TempFolder temp;
    const std::string path = temp.File("catalogue.ini");
    Put(path, "[A]\n");
    sysfile::Info a, b;
    ASSERT_EQ(sysfile::InfoAt(path, a), 0);
    const int fd = sysfile::Open(path, sysfile::Read);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(sysfile::InfoOf(fd, b), 0);
    sysfile::Close(fd);
    EXPECT_EQ(a.Device, b.Device);
    EXPECT_EQ(a.Number, b.Number);
    EXPECT_EQ(a.Size, b.Size);
    EXPECT_EQ(a.ModifiedSeconds, b.ModifiedSeconds);
    EXPECT_EQ(a.ModifiedNanoseconds, b.ModifiedNanoseconds);
    EXPECT_GE(a.ModifiedNanoseconds, 0);
    EXPECT_LT(a.ModifiedNanoseconds, 1000000000);
    // Within a second of now: the clock the stamps are on is the calendar's.
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    EXPECT_LE(std::abs(static_cast<long long>(now) - a.ModifiedSeconds), 5);
}

TEST(SystemFiles, LocksExcludeEachOtherButNeverReaders) {
    TempFolder temp;
    const std::string path = temp.File("eeprom.bin");
    Put(path, "eeprom bytes");
    const int holder = sysfile::Open(path, sysfile::Read);
    const int other = sysfile::Open(path, sysfile::Read);
    ASSERT_GE(holder, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(sysfile::LockWhole(holder, sysfile::Lock::Exclusive, false), 0);
    errno = 0;
    EXPECT_EQ(sysfile::LockWhole(other, sysfile::Lock::Shared, false), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(Get(path), "eeprom bytes");  // a lock keeps nobody from reading
    sysfile::Close(holder);
    EXPECT_EQ(sysfile::LockWhole(other, sysfile::Lock::Shared, false), 0);
    // Shared locks share.
    const int third = sysfile::Open(path, sysfile::Read);
    ASSERT_GE(third, 0);
    EXPECT_EQ(sysfile::LockWhole(third, sysfile::Lock::Shared, false), 0);
    const int writer = sysfile::Open(path, sysfile::Read);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(sysfile::LockWhole(writer, sysfile::Lock::Exclusive, false), -1);
    sysfile::Close(writer);
    sysfile::Close(third);
    sysfile::Close(other);
}

TEST(SystemFiles, AppendsOfTwoWritersStayWhole) {
    TempFolder temp;
    const std::string path = temp.File("runs.jsonl");
    const int a = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Append);
    const int b = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Append);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sysfile::WriteSome(a, "a-line\n", 7), 7);
        EXPECT_EQ(sysfile::WriteSome(b, "b-line\n", 7), 7);
    }
    EXPECT_EQ(sysfile::Sync(a), 0);
    EXPECT_EQ(sysfile::SyncData(b), 0);
    sysfile::Close(a);
    sysfile::Close(b);
    EXPECT_EQ(Get(path), "a-line\nb-line\na-line\nb-line\na-line\nb-line\n");
}

TEST(SystemFiles, UniqueNamesKeepTheirPrefix) {
    TempFolder temp;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        const int fd = sysfile::CreateUnique(temp.File("copy.bin.tmp-"), path);
        ASSERT_GE(fd, 0);
        sysfile::Close(fd);
        EXPECT_EQ(path.rfind(temp.File("copy.bin.tmp-"), 0), 0u) << path;
        EXPECT_EQ(path.size(), temp.File("copy.bin.tmp-").size() + 6) << path;
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 20u);
    for (const std::string& path : names) EXPECT_EQ(sysfile::Remove(path), 0);
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::u8path(temp.Path)));
}

// A user name with umlauts is in every path of the data folder.
TEST(SystemFiles, NamesAreUtf8) {
    TempFolder temp;
    const std::string folder = temp.File("J\xC3\xBCrgen M\xC3\xBCller");
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(folder)));
    const std::string path = folder + "/eeprom-\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F.bin";
    const int fd = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Exclusive);
    ASSERT_GE(fd, 0) << errno;
    EXPECT_EQ(sysfile::WriteSome(fd, "x", 1), 1);
    sysfile::Close(fd);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::u8path(path)));
    sysfile::Info info;
    ASSERT_EQ(sysfile::InfoAt(path, info), 0);
    EXPECT_EQ(info.Size, 1);
    ASSERT_EQ(sysfile::ReplaceWith(path, folder + "/\xE2\x82\xAC.bin"), 0);
    EXPECT_EQ(Get(folder + "/\xE2\x82\xAC.bin"), "x");
}

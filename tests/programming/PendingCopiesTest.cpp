// Pending EEPROM copies: the record of them, and the decision whether the EEPROM just read is
// what an interrupted write-back of one of them left.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "programming/EepromVerdict.h"
#include "programming/PendingCopies.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"

namespace {
constexpr std::size_t Size = 0x800;
constexpr std::size_t Block = 32;
using Clock = std::chrono::system_clock;

// An EEPROM worth keeping, with a blank block among its data and blank space at its end.
std::vector<uint8_t> Original(unsigned key) {
    std::vector<uint8_t> e = RandomBytes(Size, key);
    std::fill(e.begin() + Block, e.begin() + 2 * Block, 0xFF);
    std::fill(e.end() - 4 * Block, e.end(), 0xFF);
    return e;
}

// What a write-back interrupted before block 'blocks' leaves: those blocks, blank after.
std::vector<uint8_t> Interrupted(const std::vector<uint8_t>& copy, std::size_t blocks) {
    std::vector<uint8_t> e(copy.size(), 0xFF);
    std::copy(copy.begin(), copy.begin() + static_cast<long>(blocks * Block), e.begin());
    return e;
}

PendingContent Pending(const std::string& name, const std::vector<uint8_t>& bytes,
                       const std::string& chip = "ATmega644P", int minutesAgo = 10) {
    return {
        {"/data/eeprom/" + name, chip, "ttyUSB0", Clock::now() - std::chrono::minutes(minutesAgo)},
        bytes};
}

std::vector<std::string> Paths(const std::vector<PendingCopy>& copies) {
    std::vector<std::string> paths;
    for (const PendingCopy& c : copies) paths.push_back(c.Path);
    return paths;
}
}  // namespace

TEST(EepromVerdict, DecidesOnlyWhereOneCopyExplainsTheDevice) {
    const std::vector<uint8_t> a = Original(1), b = Original(2), blank(Size, 0xFF);
    std::vector<uint8_t> aWithOneByteChanged = Interrupted(a, 5);
    aWithOneByteChanged[70] ^= 0x10;
    const struct {
        const char* name;
        std::vector<uint8_t> device;
        std::vector<PendingContent> pending;
        EepromVerdict::Kind decision;
        std::vector<std::string> candidates;
    } cases[] = {
        {"no pending copy", Interrupted(a, 3), {}, EepromVerdict::NothingToDo, {}},
        {"a copy of another chip",
         Interrupted(a, 3),
         {Pending("a", a, "ATmega2560")},
         EepromVerdict::NothingToDo,
         {}},
        {"a copy of another size",
         Interrupted(a, 3),
         {Pending("a", std::vector<uint8_t>(a.begin(), a.begin() + 0x400))},
         EepromVerdict::NothingToDo,
         {}},
        {"an EEPROM that matches none", b, {Pending("a", a)}, EepromVerdict::NothingToDo, {}},
        {"a byte that differs",
         aWithOneByteChanged,
         {Pending("a", a)},
         EepromVerdict::NothingToDo,
         {}},
        {"the first block only: a board may carry it as a header",
         Interrupted(a, 1),
         {Pending("a", a)},
         EepromVerdict::Ask,
         {"/data/eeprom/a"}},
        {"past a blank block",
         Interrupted(a, 3),
         {Pending("b", b), Pending("a", a)},
         EepromVerdict::Restore,
         {"/data/eeprom/a"}},
        {"all but the blank end",
         Interrupted(a, Size / Block - 5),
         {Pending("a", a)},
         EepromVerdict::Restore,
         {"/data/eeprom/a"}},
        {"the whole copy already", a, {Pending("a", a)}, EepromVerdict::NothingToDo, {}},
        {"a blank EEPROM", blank, {Pending("a", a)}, EepromVerdict::Ask, {"/data/eeprom/a"}},
        {"a blank EEPROM and a blank copy",
         blank,
         {Pending("z", blank)},
         EepromVerdict::NothingToDo,
         {}},
        {"a blank EEPROM, two copies",
         blank,
         {Pending("a", a, "ATmega644P", 1), Pending("b", b)},
         EepromVerdict::Ask,
         {"/data/eeprom/a", "/data/eeprom/b"}},
        {"two differing copies fit",
         Interrupted(a, 1),
         {Pending("a", a, "ATmega644P", 1), Pending("a2", Interrupted(a, 9))},
         EepromVerdict::Ask,
         {"/data/eeprom/a", "/data/eeprom/a2"}},
        {"two alike copies fit",
         Interrupted(a, 3),
         {Pending("new", a, "ATmega644P", 1), Pending("old", a)},
         EepromVerdict::Restore,
         {"/data/eeprom/new"}},
    };
    for (const auto& c : cases) {
        const EepromVerdict v = JudgeEeprom(c.device.data(), Size, "ATmega644P", c.pending);
        EXPECT_EQ(v.Decision, c.decision) << c.name;
        EXPECT_EQ(Paths(v.Candidates), c.candidates) << c.name;
        EXPECT_EQ(v.DeviceBlank, c.device == blank) << c.name;
    }
}

TEST(EepromVerdict, CopiesTheWriteBackFinishesAreSettled) {
    const std::vector<uint8_t> a = Original(1), blank(Size, 0xFF);
    EepromVerdict v = JudgeEeprom(a.data(), Size, "ATmega644P", {Pending("a", a)});
    EXPECT_EQ(Paths(v.Settled), std::vector<std::string>{"/data/eeprom/a"});
    v = JudgeEeprom(Interrupted(a, 3).data(), Size, "ATmega644P",
                    {Pending("new", a, "ATmega644P", 1), Pending("old", a)});
    EXPECT_EQ(Paths(v.Settled), (std::vector<std::string>{"/data/eeprom/new", "/data/eeprom/old"}));
    v = JudgeEeprom(blank.data(), Size, "ATmega644P", {Pending("a", a)});
    EXPECT_TRUE(v.Settled.empty());  // nothing is settled while a person has to decide
}

namespace {
// Boards of one product: every one carries the same header and default table in its first
// two blocks; a unit adds its own calibration and serial number.
std::vector<uint8_t> Board() {
    std::vector<uint8_t> e(Size, 0xFF);
    const std::string header = "KARDO-Q40 HDR v1";  // 16 bytes, blank after in its block
    std::copy(header.begin(), header.end(), e.begin());
    for (std::size_t i = 0; i < Block; ++i) e[Block + i] = static_cast<uint8_t>(0x40 + i);
    return e;
}

std::vector<uint8_t> Unit(char name) {
    std::vector<uint8_t> e = Board();
    const std::string calibration = std::string("CAL-") + name + "-0123456789abcdefghijklmnopq";
    std::copy(calibration.begin(), calibration.begin() + Block, e.begin() + 2 * Block);
    const std::string serial = std::string("SERIAL ") + name + " 2026-000123";
    std::copy(serial.begin(), serial.end(), e.begin() + 0x400);
    return e;
}

KnownCopy Known(const std::string& name, const std::vector<uint8_t>& bytes, int minutesAgo) {
    return {"/data/eeprom/" + name, bytes, Clock::now() - std::chrono::minutes(minutesAgo)};
}
}  // namespace

// Only a state that can have come from nothing but the interrupted write-back of that one
// copy goes back unasked; a board that could hold the same bytes without it is asked about.
TEST(EepromVerdict, LookalikeBoardsAreAskedAbout) {
    const std::vector<uint8_t> x = Unit('X'), y = Unit('Y'), board = Board();
    std::vector<uint8_t> oneByte(Size, 0xFF);
    oneByte[0] = x[0];
    std::vector<uint8_t> headerOnly(Size, 0xFF);
    std::copy(board.begin(), board.begin() + Block, headerOnly.begin());
    const std::vector<uint8_t> xFirstBlocks = Interrupted(x, 3);  // header, table, calibration
    // X's pending copy was taken 10 minutes ago; X's first copy here is 60 minutes old.
    const KnownCopy otherUnit = Known("y", y, 300), freshBoardBefore = Known("f", board, 120),
                    freshBoardSince = Known("g", board, 30), xEarlier = Known("x0", x, 60);
    const struct {
        const char* name;
        std::vector<uint8_t> device;
        std::vector<KnownCopy> known;
        EepromVerdict::Kind decision;
        bool common;
    } cases[] = {
        {"one byte of the copy's first block: no write-back leaves that",
         oneByte,
         {otherUnit},
         EepromVerdict::NothingToDo,
         false},
        {"a lone header shared by all boards", headerOnly, {otherUnit}, EepromVerdict::Ask, true},
        {"a lone header, no other board known", headerOnly, {}, EepromVerdict::Ask, true},
        {"header and table that another unit's copy holds too",
         board,
         {otherUnit},
         EepromVerdict::Ask,
         true},
        {"header and table that a board updated here before holds",
         board,
         {xEarlier, freshBoardBefore},
         EepromVerdict::Ask,
         true},
        {"header and table, as a retry read them from X's half-restored device",
         board,
         {xEarlier, freshBoardSince},
         EepromVerdict::Restore,
         false},
        {"header and table, nothing else known", board, {}, EepromVerdict::Restore, false},
        {"X's calibration block too",
         xFirstBlocks,
         {otherUnit, freshBoardBefore},
         EepromVerdict::Restore,
         false},
    };
    for (const auto& c : cases) {
        const EepromVerdict v =
            JudgeEeprom(c.device.data(), Size, "ATmega644P", {Pending("x", x)}, c.known);
        EXPECT_EQ(v.Decision, c.decision) << c.name;
        EXPECT_EQ(v.DeviceCommon, c.common) << c.name;
        if (c.decision != EepromVerdict::NothingToDo) {
            EXPECT_EQ(Paths(v.Candidates), std::vector<std::string>{"/data/eeprom/x"}) << c.name;
        }
        if (c.decision != EepromVerdict::Restore) {
            EXPECT_TRUE(v.Settled.empty()) << c.name;
        }
    }
}

// Another unit's pending copy is a copy of another unit too; a device that holds a whole copy
// made only of what boards share keeps its bytes and leaves the mark alone.
TEST(EepromVerdict, SharedBytesNeverSettleAMark) {
    const std::vector<uint8_t> x = Unit('X'), y = Unit('Y'), board = Board();
    EepromVerdict v = JudgeEeprom(board.data(), Size, "ATmega644P",
                                  {Pending("x", x, "ATmega644P", 1), Pending("y", y)});
    EXPECT_EQ(v.Decision, EepromVerdict::Ask);  // both fit: several copies
    v = JudgeEeprom(board.data(), Size, "ATmega644P", {Pending("b", board)}, {Known("y", y, 300)});
    EXPECT_EQ(v.Decision, EepromVerdict::NothingToDo);
    EXPECT_TRUE(v.Settled.empty());
    v = JudgeEeprom(x.data(), Size, "ATmega644P", {Pending("x", x)}, {Known("y", y, 300)});
    EXPECT_EQ(Paths(v.Settled), std::vector<std::string>{"/data/eeprom/x"});
}

TEST(PendingRecord, MarksAndClearsAcrossParallelRuns) {
    TempFolder temp;
    std::vector<PendingCopy> copies;
    EXPECT_EQ(ReadPendingCopies(temp.Path, copies), 0);  // no record yet: no marks
    EXPECT_TRUE(copies.empty());

    constexpr int Runs = 16;
    std::vector<std::thread> runs;
    for (int i = 0; i < Runs; ++i)
        runs.emplace_back([&, i] {
            const PendingCopy c{temp.File("copy" + std::to_string(i)), "ATmega644P",
                                "ttyUSB" + std::to_string(i),
                                Clock::now() + std::chrono::seconds(i)};
            EXPECT_EQ(MarkPending(temp.Path, c), 0);
        });
    for (auto& r : runs) r.join();
    ASSERT_EQ(ReadPendingCopies(temp.Path, copies), 0);
    ASSERT_EQ(copies.size(), static_cast<std::size_t>(Runs));
    EXPECT_EQ(copies.front().Path, temp.File("copy15"));  // newest first
    EXPECT_EQ(copies.front().Port, "ttyUSB15");

    // A second mark of the same copy keeps the first one's time.
    const auto first = copies.back().Time;
    EXPECT_EQ(MarkPending(temp.Path, {temp.File("copy0"), "ATmega644P", "ttyS9", Clock::now()}), 0);
    ASSERT_EQ(ReadPendingCopies(temp.Path, copies), 0);
    EXPECT_EQ(copies.size(), static_cast<std::size_t>(Runs));
    EXPECT_EQ(std::chrono::time_point_cast<std::chrono::milliseconds>(copies.back().Time),
              std::chrono::time_point_cast<std::chrono::milliseconds>(first));

    runs.clear();
    for (int i = 0; i < Runs; i += 2)
        runs.emplace_back([&, i] {
            EXPECT_EQ(ClearPending(temp.Path, {temp.File("copy" + std::to_string(i))}), 0);
        });
    for (auto& r : runs) r.join();
    ASSERT_EQ(ReadPendingCopies(temp.Path, copies), 0);
    EXPECT_EQ(copies.size(), static_cast<std::size_t>(Runs / 2));
    for (const PendingCopy& c : copies) EXPECT_EQ(c.Path.back() % 2, 1) << c.Path;
}

// Windows' file names are always text.
#ifndef _WIN32
TEST(PendingRecord, KeepsPathsThatAreNotText) {
    TempFolder temp;
    const std::string path = temp.File("eeprom-ATmega644P-COM\xE4.bin");
    ASSERT_EQ(MarkPending(temp.Path, {path, "ATmega644P", "COM\xE4", Clock::now()}), 0);
    std::vector<PendingCopy> copies;
    ASSERT_EQ(ReadPendingCopies(temp.Path, copies), 0);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].Path, path);
    EXPECT_EQ(ClearPending(temp.Path, {path}), 0);
    ASSERT_EQ(ReadPendingCopies(temp.Path, copies), 0);
    EXPECT_TRUE(copies.empty());
}
#endif

TEST(PendingRecord, AnUnreadableRecordIsAnError) {
    TempFolder temp;
    std::ofstream(PendingRecordPath(temp.Path)) << "{\"pending\": [{\"copy\": 1}";
    std::vector<PendingCopy> copies;
    EXPECT_EQ(ReadPendingCopies(temp.Path, copies), EBADMSG);
    EXPECT_EQ(MarkPending(temp.Path, {temp.File("c"), "ATmega644P", "ttyS0", Clock::now()}),
              EBADMSG);  // never overwritten: it may hold marks that matter
}

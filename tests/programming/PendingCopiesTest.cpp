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
        {"the first block only",
         Interrupted(a, 1),
         {Pending("a", a)},
         EepromVerdict::Restore,
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
         Interrupted(a, 2),
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
    v = JudgeEeprom(Interrupted(a, 2).data(), Size, "ATmega644P",
                    {Pending("new", a, "ATmega644P", 1), Pending("old", a)});
    EXPECT_EQ(Paths(v.Settled), (std::vector<std::string>{"/data/eeprom/new", "/data/eeprom/old"}));
    v = JudgeEeprom(blank.data(), Size, "ATmega644P", {Pending("a", a)});
    EXPECT_TRUE(v.Settled.empty());  // nothing is settled while a person has to decide
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

TEST(PendingRecord, AnUnreadableRecordIsAnError) {
    TempFolder temp;
    std::ofstream(PendingRecordPath(temp.Path)) << "{\"pending\": [{\"copy\": 1}";
    std::vector<PendingCopy> copies;
    EXPECT_EQ(ReadPendingCopies(temp.Path, copies), EBADMSG);
    EXPECT_EQ(MarkPending(temp.Path, {temp.File("c"), "ATmega644P", "ttyS0", Clock::now()}),
              EBADMSG);  // never overwritten: it may hold marks that matter
}

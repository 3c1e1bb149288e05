// Memory transfers as byte traces against the in-process box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "link/Bytes.h"
#include "tests/support/LinkOnBox.h"
#include "tests/support/Trace.h"

namespace {
struct Call {
    int32_t Position, Total;
    int32_t Phase;
    bool operator==(const Call& o) const {
        return Position == o.Position && Total == o.Total && Phase == o.Phase;
    }
};

void PrintTo(const Call& c, std::ostream* os) {
    *os << "(" << c.Position << ", " << c.Total << ", " << c.Phase << ")";
}

struct Recorder {
    std::vector<Call> Calls;
    int AbortAtCall = -1;  // 0-based index of the progress call that asks to stop
    static bool OnProgress(void* user, int32_t position, int32_t total, ProgressPhase phase) {
        auto* self = static_cast<Recorder*>(user);
        self->Calls.push_back({position, total, phase});
        return static_cast<int>(self->Calls.size()) - 1 == self->AbortAtCall;
    }
};

// A link on the in-process box, identified, with its progress recorded and the trace
// starting at the first transfer.
struct TransferFixture : LinkOnBox {
    explicit TransferFixture(const std::string& chip, const BoxConfig& config = {})
        : LinkOnBox(WithChip(config, chip)) {
        Identify();
        Link->OnProgress = &Recorder::OnProgress;
        Link->UserData = &Progress;
        std::memset(Link->FlashImage, 0xFF, isp::FlashImageSize);
        Port->Written.clear();
    }
    static BoxConfig WithChip(BoxConfig c, const std::string& chip) {
        c.Chip = chip;
        return c;
    }
    std::vector<TraceFrame> Frames() const { return SplitTrace(Port->Written); }
    int Code(void (TIspLink::*op)()) {
        try {
            (Link.get()->*op)();
        } catch (const EProgError& e) {
            return e.Code;
        }
        return -1;
    }
    Recorder Progress;
};

void FillRandom(uint8_t* dest, std::size_t count, unsigned key) {
    std::mt19937 gen(key);
    for (std::size_t i = 0; i < count; ++i) dest[i] = static_cast<uint8_t>(gen());
}

long Count(const std::string& s, char c) {
    return static_cast<long>(std::count(s.begin(), s.end(), c));
}
}  // namespace

TEST(FlashTransfer, BlankImageSendsNothingButReportsEveryPage) {
    TransferFixture t("ATmega644P");
    t.Link->ProgramFlash();
    EXPECT_TRUE(t.Port->Written.empty());
    ASSERT_EQ(t.Progress.Calls.size(), 0x10000u / 128 + 1);
    for (int i = 0; i < 0x10000 / 128; ++i)
        EXPECT_EQ(t.Progress.Calls[i], (Call{i * 128, 0x10000, phProgramFlash}));
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phFlashProgrammed}));
}

TEST(FlashTransfer, PageWithBlankFirstHalfIsLoadedWhole) {
    TransferFixture t("ATmega32");  // pages of 64
    std::memset(t.Link->FlashImage + 32, 0x5A, 32);
    t.Link->ProgramFlash();
    const auto frames = t.Frames();
    ASSERT_EQ(Letters(frames), "WWSRR");
    EXPECT_EQ(frames[0].Tail,
              (std::vector<uint8_t>{0,    0,    0,    32,   0,    0,    0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(frames[1].Tail[2], 32);
    EXPECT_EQ(frames[2].Tail, (std::vector<uint8_t>{0, 0, 0, 20, 255, 0xFF}));
    EXPECT_EQ(frames[3].Tail, (std::vector<uint8_t>{0, 0, 0, 32}));
    EXPECT_EQ(frames[4].Tail, (std::vector<uint8_t>{0, 0, 32, 32}));
}

TEST(FlashTransfer, ExtendedAddressOnlyAboveTheFirst128K) {
    TransferFixture big("ATmega2560");
    big.Link->FlashImage[0x1FF80] = 0x11;
    big.Link->FlashImage[0x20000] = 0x22;
    big.Link->ProgramFlash();
    const auto frames = big.Frames();
    EXPECT_EQ(Letters(frames),
              "WWWWIS"
              "RRRR"
              "WWWWIS"
              "RRRR");
    EXPECT_EQ(frames[4].Tail, (std::vector<uint8_t>{0x4D, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[14].Tail, (std::vector<uint8_t>{0x4D, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(frames[15].Tail, (std::vector<uint8_t>{0x02, 0x00, 0x00, 20, 255, 0x22}));
    EXPECT_EQ(big.Box.Target.Flash[0x20000], 0x22);
    EXPECT_EQ(big.Box.Target.Flash[0x1FF80], 0x11);

    TransferFixture small("ATmega128");
    std::memset(small.Link->FlashImage, 0x33, 0x20000);
    small.Link->ProgramFlash();
    EXPECT_EQ(Count(Letters(small.Frames()), 'I'), 0);
}

TEST(FlashTransfer, ByteModeUsesItsParametersAndNeverStores) {
    TransferFixture t("AT90S2313");
    FillRandom(t.Link->FlashImage, 0x800, 7);
    t.Link->ProgramFlash();
    const auto frames = t.Frames();
    EXPECT_EQ(Count(Letters(frames), 'S'), 0);
    EXPECT_EQ(Count(Letters(frames), 'W'), 0x800 / 32);
    for (const TraceFrame& f : frames)
        if (f.Letter == 'W') {
            EXPECT_EQ(f.Tail[4], 4);
            EXPECT_EQ(f.Tail[5], 127);
        }
    EXPECT_TRUE(
        std::equal(t.Box.Target.Flash.begin(), t.Box.Target.Flash.end(), t.Link->FlashImage));
}

TEST(FlashTransfer, FullImagesLandExactlyOnEveryPageSize) {
    for (const char* chip : {"ATmega2560", "ATmega644P", "ATmega32", "ATtiny13"}) {
        TransferFixture t(chip);
        const int32_t size = t.Link->Device.FlashSize;
        FillRandom(t.Link->FlashImage, size, 11);
        t.Link->ProgramFlash();
        EXPECT_TRUE(
            std::equal(t.Box.Target.Flash.begin(), t.Box.Target.Flash.end(), t.Link->FlashImage))
            << chip;
        EXPECT_EQ(t.Link->RetriesUsed, 0) << chip;
    }
}

TEST(FlashTransfer, FlakyBlockCostsOneAttemptAndTheNextGetsTen) {
    BoxConfig c;
    c.FlakyFlash[0] = 1;
    c.FlakyFlash[32] = 9;  // the next block may still use nine repeats
    TransferFixture t("AT90S2313", c);
    std::memset(t.Link->FlashImage, 0x00, 64);
    t.Link->ProgramFlash();
    EXPECT_EQ(Count(Letters(t.Frames()), 'W'), 2 + 10);
    EXPECT_EQ(t.Link->RetriesUsed, 10);
    EXPECT_EQ(t.Progress.Calls[1], (Call{0, 0x800, phProgramFlash}));
    EXPECT_EQ(t.Progress.Calls[2], (Call{32, 0x800, phProgramFlash}));
}

TEST(FlashTransfer, StuckBlockGivesTenAttemptsThenCode11WithDump) {
    BoxConfig c;
    c.StuckFlash.insert(0x40);
    TransferFixture t("AT90S2313", c);
    std::memset(t.Link->FlashImage, 0x00, 0x800);
    t.Link->FlashImage[0x41] = 0xAB;
    EXPECT_EQ(t.Code(&TIspLink::ProgramFlash), 11);
    const auto frames = t.Frames();
    long writesAt40 = 0;
    for (const TraceFrame& f : frames)
        if (f.Letter == 'W' && f.Tail[2] == 0x40) ++writesAt40;
    EXPECT_EQ(writesAt40, 10);
    EXPECT_EQ(t.Progress.Calls.back(), (Call{0x40, 0x800, phProgramFlash}));
    const std::vector<std::string> dump = {
        "Written at Address 0x00000040",
        "00 AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "Read from Address 0x00000040",
        "01 AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
    };
    EXPECT_EQ(t.Link->MismatchLog, dump);
}

TEST(FlashTransfer, PageMismatchStopsAtTheFailingBlock) {
    BoxConfig c;
    c.FlakyFlash[0x20] = 1;
    TransferFixture t("ATmega644P", c);
    std::memset(t.Link->FlashImage, 0x00, 128);
    t.Link->ProgramFlash();
    EXPECT_EQ(Letters(t.Frames()),
              "WWWWSRR"
              "WWWWSRRRR");
    EXPECT_EQ(t.Link->MismatchLog[0], "Written at Address 0x00000020");
}

TEST(EepromTransfer, ReadsTheWholeEepromInBlocks) {
    TransferFixture t("ATmega644P");
    FillRandom(t.Box.Target.Eeprom.data(), t.Box.Target.Eeprom.size(), 3);
    t.Link->ReadEeprom();
    EXPECT_TRUE(
        std::equal(t.Box.Target.Eeprom.begin(), t.Box.Target.Eeprom.end(), t.Link->EepromImage));
    const auto frames = t.Frames();
    EXPECT_EQ(frames.size(), 0x800u / 32);
    EXPECT_EQ(frames[1].Tail, (std::vector<uint8_t>{0x00, 0x20, 32}));
    EXPECT_EQ(t.Progress.Calls.size(), 0x800u / 32 + 1);
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phEepromRead}));
}

TEST(EepromTransfer, KeepsContentAcrossTheErase) {
    TransferFixture t("ATmega2560");
    FillRandom(t.Box.Target.Eeprom.data(), 0x1000, 5);
    std::fill(t.Box.Target.Eeprom.begin() + 64, t.Box.Target.Eeprom.begin() + 128, 0xFF);
    const auto before = t.Box.Target.Eeprom;
    t.Link->ReadEeprom();
    t.Link->EraseChip();
    t.Port->Written.clear();
    t.Link->ProgramEeprom();
    EXPECT_EQ(t.Box.Target.Eeprom, before);
    const auto frames = t.Frames();
    EXPECT_EQ(Count(Letters(frames), 'w'), 0x1000 / 32 - 2);  // two blank blocks skipped
    const TraceFrame& first = frames[0];
    EXPECT_EQ(first.Letter, 'w');
    EXPECT_EQ(std::vector<uint8_t>(first.Tail.begin(), first.Tail.begin() + 4),
              (std::vector<uint8_t>{0, 0, 32, 7}));
}

TEST(EepromTransfer, BlankEepromIsNotWritten) {
    TransferFixture t("ATmega644P");
    t.Link->ReadEeprom();
    t.Port->Written.clear();
    t.Link->ProgramEeprom();
    EXPECT_TRUE(t.Port->Written.empty());
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phEepromProgrammed}));
}

TEST(EepromTransfer, StuckBlockGivesCode13WithoutDump) {
    BoxConfig c;
    c.StuckEeprom.insert(0x20);
    TransferFixture t("ATmega644P", c);
    std::memset(t.Link->EepromImage, 0x42, 0x800);
    EXPECT_EQ(t.Code(&TIspLink::ProgramEeprom), 13);
    EXPECT_EQ(Count(Letters(t.Frames()), 'w'), 1 + 10);
    EXPECT_TRUE(t.Link->MismatchLog.empty());
}

// Without an erase before it, a block is written where it differs from the EEPROM as read,
// blank blocks of the image included, and nowhere else.
TEST(EepromTransfer, OverwriteWritesEveryDifferingBlockBlankOnesToo) {
    TransferFixture t("ATmega644P");
    FillRandom(t.Box.Target.Eeprom.data(), 0x800, 6);
    t.Link->ReadEeprom();
    const std::vector<uint8_t> before(t.Link->EepromImage, t.Link->EepromImage + 0x800);
    std::memset(t.Link->EepromImage + 0x40, 0xFF, 32);  // a blank block over data
    t.Link->EepromImage[0x7E1] ^= 0x55;                 // one byte in the last block
    std::vector<uint8_t> wanted(t.Link->EepromImage, t.Link->EepromImage + 0x800);
    t.Port->Written.clear();
    t.Progress.Calls.clear();
    t.Link->ProgramEepromOver(before.data());
    EXPECT_EQ(t.Box.Target.Eeprom, wanted);
    const auto frames = t.Frames();
    EXPECT_EQ(Letters(frames), "wrwr");
    EXPECT_EQ(std::vector<uint8_t>(frames[0].Tail.begin(), frames[0].Tail.begin() + 4),
              (std::vector<uint8_t>{0x00, 0x40, 32, 7}));
    EXPECT_EQ(frames[0].Tail[4], 0xFF);
    EXPECT_EQ(frames[2].Tail[1], 0xE0);
    EXPECT_EQ(t.Progress.Calls.size(), 0x800u / 32 + 1);
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phEepromProgrammed}));

    t.Port->Written.clear();
    t.Progress.Calls.clear();
    t.Link->VerifyEeprom();
    EXPECT_EQ(Letters(t.Frames()), std::string(0x800 / 32, 'r'));
    EXPECT_EQ(t.Progress.Calls.front(), (Call{0, 0x800, phVerifyEeprom}));
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phEepromVerified}));

    t.Box.Target.Eeprom[0x123] ^= 0x01;  // the device no longer holds the image
    try {
        t.Link->VerifyEeprom();
        ADD_FAILURE() << "no failure";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errEepromVerify);
        EXPECT_NE(e.Detail.find("address 0x0123 holds"), std::string::npos) << e.Detail;
    }
}

// The whole flash in 'R' frames of 32 bytes with their 24-bit address, also above 128K and
// on the byte-mode chips; progress before every block, (1, 1, 5) at the end.
TEST(FlashRead, ReadsTheWholeFlashInRFramesOnly) {
    for (const char* chip : {"ATmega2560", "ATmega644P", "AT90S2313", "ATtiny13"}) {
        SCOPED_TRACE(chip);
        TransferFixture t(chip);
        const int32_t size = t.Link->Device.FlashSize;
        FillRandom(t.Box.Target.Flash.data(), t.Box.Target.Flash.size(), 21);
        t.Link->ReadFlash();
        EXPECT_TRUE(
            std::equal(t.Box.Target.Flash.begin(), t.Box.Target.Flash.end(), t.Link->FlashImage));
        const auto frames = t.Frames();
        ASSERT_EQ(Letters(frames), std::string(static_cast<std::size_t>(size / 32), 'R'));
        const int32_t last = size - 32;
        EXPECT_EQ(frames.back().Tail, (std::vector<uint8_t>{Hi8(last), Mid8(last), Lo8(last), 32}));
        ASSERT_EQ(t.Progress.Calls.size(), static_cast<std::size_t>(size / 32 + 1));
        EXPECT_EQ(t.Progress.Calls[1], (Call{32, size, phReadFlash}));
        EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phFlashRead}));
        EXPECT_EQ(t.Box.Target.ChipErases, 0);
    }
}

TEST(FlashVerify, EqualFlashPassesWithPhasesZeroThenOne) {
    TransferFixture t("ATmega644P");
    FillRandom(t.Box.Target.Flash.data(), 0x10000, 22);
    std::copy(t.Box.Target.Flash.begin(), t.Box.Target.Flash.end(), t.Link->FlashImage);
    t.Link->MismatchLog = {"left over"};
    t.Link->VerifyFlash();
    EXPECT_EQ(Letters(t.Frames()), std::string(0x10000 / 32, 'R'));
    EXPECT_EQ(t.Progress.Calls.front(), (Call{0, 0x10000, phVerifyFlash}));
    EXPECT_EQ(t.Progress.Calls.back(), (Call{1, 1, phFlashVerified}));
    EXPECT_TRUE(t.Link->MismatchLog.empty());
}

// Every block is read even after a difference: the failure counts them and dumps the first.
TEST(FlashVerify, DifferencesGiveCode10WithTheFirstBlockDumpedAndTheirNumber) {
    TransferFixture t("ATmega32");
    std::memset(t.Link->FlashImage, 0x00, 0x100);
    std::fill(t.Box.Target.Flash.begin(), t.Box.Target.Flash.begin() + 0x100, 0x00);
    t.Box.Target.Flash[0x41] = 0xAB;    // block 0x40
    t.Box.Target.Flash[0x5F] = 0x01;    // the same block
    t.Box.Target.Flash[0x7FFF] = 0x00;  // the last block
    try {
        t.Link->VerifyFlash();
        ADD_FAILURE() << "no failure";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errFlashVerify);
        EXPECT_EQ(GetErrorText(e.Code), "Flash verify error!");
        EXPECT_EQ(e.Detail, "2 of 1024 blocks of 32 bytes differ, the first at 0x00000040");
    }
    EXPECT_EQ(Letters(t.Frames()), std::string(0x8000 / 32, 'R'));
    const std::vector<std::string> dump = {
        "Written at Address 0x00000040",
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "Read from Address 0x00000040",
        "00 AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ",
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 ",
    };
    EXPECT_EQ(t.Link->MismatchLog, dump);
    EXPECT_EQ(t.Progress.Calls.back(), (Call{0x7FE0, 0x8000, phVerifyFlash}));  // no phase 1
}

// Every progress call of a whole update's transfers, positions and totals included: before each
// block or page its byte address and the memory's size, repeats at the same address, blank
// pages too; at the end (1, 1) with the finished phase. The sizes are written out here.
TEST(Progress, PositionsAndTotalsOfTheWholeUpdate) {
    const struct {
        const char* Chip;
        int32_t EepromSize, FlashSize, FlashStep;
    } chips[] = {
        {"ATmega644P", 2048, 65536, 128},
        {"AT90S2313", 128, 2048, 32},  // byte mode
        {"ATmega2560", 4096, 262144, 128},
    };
    for (const auto& c : chips) {
        BoxConfig flaky;
        flaky.FlakyFlash[256] = 1;  // one repeat at 256
        flaky.FlakyEeprom[64] = 2;  // two at 64
        TransferFixture t(c.Chip, flaky);
        FillRandom(t.Box.Target.Eeprom.data(), t.Box.Target.Eeprom.size(), 7);
        FillRandom(t.Link->FlashImage, static_cast<std::size_t>(c.FlashSize / 2), 8);

        t.Link->ReadEeprom();
        t.Link->EraseChip();
        t.Link->ProgramEeprom();
        t.Link->ProgramFlash();

        std::vector<Call> want;
        for (int32_t p = 0; p < c.EepromSize; p += 32) want.push_back({p, c.EepromSize, 6});
        want.push_back({1, 1, 7});
        for (int32_t p = 0; p < c.EepromSize; p += 32) {
            want.push_back({p, c.EepromSize, 10});
            if (p == 64) want.insert(want.end(), 2, {p, c.EepromSize, 10});
        }
        want.push_back({1, 1, 11});
        for (int32_t p = 0; p < c.FlashSize; p += c.FlashStep) {
            want.push_back({p, c.FlashSize, 2});
            if (p == 256) want.push_back({p, c.FlashSize, 2});
        }
        want.push_back({1, 1, 3});
        EXPECT_EQ(t.Progress.Calls, want) << c.Chip;
    }
}

TEST(Abort, FirstProgressCallStopsBeforeAnythingIsSent) {
    for (auto op : {&TIspLink::ReadEeprom, &TIspLink::ProgramEeprom, &TIspLink::ProgramFlash,
                    &TIspLink::ReadFlash, &TIspLink::VerifyFlash}) {
        TransferFixture t("ATmega644P");
        std::memset(t.Link->EepromImage, 0x00, 0x800);
        std::memset(t.Link->FlashImage, 0x00, 0x10000);
        t.Progress.AbortAtCall = 0;
        EXPECT_EQ(t.Code(op), 14);
        EXPECT_TRUE(t.Port->Written.empty());
        EXPECT_EQ(t.Progress.Calls.size(), 1u);
    }
}

TEST(Abort, LateRequestStopsBeforeThatBlock) {
    TransferFixture t("ATmega644P");
    std::memset(t.Link->FlashImage, 0x00, 0x10000);
    t.Progress.AbortAtCall = 3;
    EXPECT_EQ(t.Code(&TIspLink::ProgramFlash), 14);
    EXPECT_EQ(Count(Letters(t.Frames()), 'S'), 3);
}

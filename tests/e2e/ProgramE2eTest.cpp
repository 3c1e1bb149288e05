// A whole programming run through TIspLink, the termios serial layer and a
// pseudo-terminal, checked against the simulator's own memory dumps.
#include <cstring>
#include <memory>
#include <random>

#include "link/IspLink.h"
#include "platform/posix/PosixSerialPort.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/support/TestData.h"

namespace {

bool NeverAbort(void*, int32_t, int32_t, ProgressPhase) {
    return false;
}

class ProgramThroughPty : public BoxSimTest {
protected:
    std::unique_ptr<TIspLink> OpenIdentified(const std::string& expectedChip) {
        auto link = std::make_unique<TIspLink>(std::make_unique<PosixSerialPort>(), SystemClock());
        link->OpenPort(Port());
        link->ResetProgrammer();
        link->SetPortTime(100);
        link->EnableProgMode();
        EXPECT_EQ(link->ReadChipType(), expectedChip);
        link->OnProgress = NeverAbort;
        return link;
    }

    // The order of a programming run: save the EEPROM, erase, write it back, flash.
    void Program(TIspLink& link, const std::vector<uint8_t>& image) {
        link.ReadEeprom();
        link.EraseChip();
        link.ProgramEeprom();
        std::memset(link.FlashImage, isp::Blank, isp::FlashImageSize);
        std::memcpy(link.FlashImage, image.data(), image.size());
        link.ProgramFlash();
        link.DisableProgMode();
    }
};

TEST_F(ProgramThroughPty, FlashDumpEqualsTheImageAndTheEepromSurvivesTheErase) {
    const struct {
        const char* Chip;
        std::size_t FlashBytes, EepromBytes;
        std::vector<std::string> Realism;
    } cases[] = {
        {"ATmega644P", 0x10000, 0x800, {}},
        {"ATmega2560", 0x40000, 0x1000, {}},
        {"AT90S2313", 0x800, 0x80, {"--baud-pace"}},  // byte mode
        // A paced line, the chip's write times and an adapter's latency change only timing.
        {"ATmega48", 0x1000, 0x100, {"--baud-pace", "--write-delays", "--latency", "1"}},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> image = RandomBytes(c.FlashBytes, 1);
        std::vector<uint8_t> eeprom = RandomBytes(c.EepromBytes, 2);
        std::fill(eeprom.begin() + 64, eeprom.begin() + 96, 0xFF);  // a blank block stays blank
        WriteBytes(Scratch("eeprom.in"), eeprom);
        std::vector<std::string> options = {"--chip",        c.Chip,
                                            "--eeprom-in",   Scratch("eeprom.in"),
                                            "--dump-flash",  Scratch("flash.bin"),
                                            "--dump-eeprom", Scratch("eeprom.bin")};
        options.insert(options.end(), c.Realism.begin(), c.Realism.end());
        StartBox(options);
        {
            auto link = OpenIdentified(c.Chip);
            Program(*link, image);
            EXPECT_EQ(link->RetriesUsed, 0);
        }
        // 'D' wrote the dumps before its echo came back.
        EXPECT_TRUE(ReadBytes(Scratch("flash.bin")) == image) << c.Chip;
        EXPECT_TRUE(ReadBytes(Scratch("eeprom.bin")) == eeprom) << c.Chip;
        EXPECT_EQ(StopBox(), 0);
    }
}

TEST_F(ProgramThroughPty, FlakyBlocksAreRepeatedAndTheResultIsStillTheImage) {
    const std::vector<uint8_t> image = RandomBytes(0x10000, 3);
    StartBox({"--flaky-flash", "0x1234:3", "--flaky-flash", "0xFFFF:1", "--flaky-eeprom", "0x40:2",
              "--dump-flash", Scratch("flash.bin")});
    auto link = OpenIdentified("ATmega644P");
    std::memset(link->EepromImage, 0x5A, isp::EepromImageSize);
    link->EraseChip();
    link->ProgramEeprom();
    std::memcpy(link->FlashImage, image.data(), image.size());
    link->ProgramFlash();
    link->DisableProgMode();
    EXPECT_EQ(link->RetriesUsed, 3 + 1 + 2);
    EXPECT_TRUE(ReadBytes(Scratch("flash.bin")) == image);
}

TEST_F(ProgramThroughPty, StuckBlockEndsWithCode11AndItsDump) {
    StartBox({"--stuck-flash", "0x200"});
    auto link = OpenIdentified("ATmega644P");
    link->EraseChip();
    std::memset(link->FlashImage, 0x00, 0x10000);
    try {
        link->ProgramFlash();
        ADD_FAILURE() << "a stuck block was programmed";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errFlashProgram);
    }
    ASSERT_EQ(link->MismatchLog.size(), 6u);
    EXPECT_EQ(link->MismatchLog[0], "Written at Address 0x00000200");
    EXPECT_EQ(link->MismatchLog[4].substr(0, 3), "01 ");
}

TEST_F(ProgramThroughPty, DroppedLineMidTransferIsNotConnected) {
    StartBox({"--drop-after", "5000"});
    auto link = OpenIdentified("ATmega644P");
    link->EraseChip();
    std::memset(link->FlashImage, 0x00, 0x10000);
    try {
        link->ProgramFlash();
        ADD_FAILURE() << "the transfer survived a dead line";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errNotConnected);
    }
}
}  // namespace

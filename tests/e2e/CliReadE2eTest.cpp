// q40prog-cli read and verify against q40prog-boxsim: what the device holds in one line, the
// copies it leaves, a verify that passes and one that fails, and a device that ends exactly
// as it was.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "link/ImageBuffer.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitFailed = 1;
constexpr std::size_t FlashBytes = 0x10000, EepromBytes = 0x800;

class CliRead : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
        Firmware = RandomBytes(0x3000, 8);
        const char id[] = "KQ410 2.6.1";
        std::copy(id, id + sizeof id, Firmware.begin() + 0x100);
        std::filesystem::create_directories(Scratch("Firmware"));
        WriteBytes(Scratch("Firmware/main.bin"), Firmware);
        std::ofstream(Scratch("Q40Prog.INI"))
            << "[ITEM_3]\nNAME=Q40 main controller\nVERSION=KQ4+0\nFirmware=main.bin\n"
               "Processor_1=ATmega644P\nBootloader_1=0x2800\n"
               "[ITEM_4]\nNAME=Other\nVERSION=OT4+0\nFirmware=main.bin\n"
               "Processor_1=ATmega2560\n";
        Eeprom = RandomBytes(EepromBytes, 6);
        WriteBytes(Scratch("eeprom.in"), Eeprom);
    }

    // The device holding 'flash'; what it holds at the end is dumped.
    void StartDevice(const std::vector<uint8_t>& flash) {
        WriteBytes(Scratch("flash.in"), flash);
        StartBox({"--chip", "ATmega644P", "--flash-in", Scratch("flash.in"), "--eeprom-in",
                  Scratch("eeprom.in"), "--dump-flash", Scratch("flash.bin"), "--dump-eeprom",
                  Scratch("eeprom.bin")});
    }

    // What an update of item 3 leaves in the flash.
    std::vector<uint8_t> Installed() const {
        std::vector<uint8_t> flash(isp::FlashImageSize, 0xFF);
        std::copy(Firmware.begin(), Firmware.end(), flash.begin());
        StampCheckValue(flash.data(), 0x2800);
        flash.resize(FlashBytes);
        return flash;
    }

    // The device ends as it began: nothing was written.
    void ExpectUnchanged(const std::vector<uint8_t>& flash) {
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), flash);
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    }

    std::string Catalogue() const { return Scratch("Q40Prog.INI"); }

    std::vector<uint8_t> Firmware, Eeprom;
};

std::string LastLine(const std::string& text) {
    const std::string body = text.substr(0, text.size() - 1);
    return body.substr(body.rfind('\n') + 1);
}
}  // namespace

TEST_F(CliRead, NamesTheInstalledItemAndSavesWhatTheDeviceHolds) {
    const std::vector<uint8_t> flash = Installed();
    StartDevice(flash);
    const CommandResult r =
        Cli({"read", "--port", Port(), "--catalogue", Catalogue(), "--save", Scratch("copies")});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(LastLine(r.Out),
              "installed: item 3 Q40 main controller, KQ410 2.6.1, check value valid, same as its "
              "firmware file");
    for (const char* line :
         {"chip type is ATmega644P\n", "signature bytes 0x96 0x0A\n",
          "programmer is KARDO Programmer \"AVR\"  V2.5\n", "fuse Hi 0xD9\n",
          "  SPIEN=0: serial programming enabled\n", "lock bits 0xFF\n",
          "lock-out guard: these fuse values keep serial programming open\n",
          "application identifier of item 3 (KQ4+0): KQ410 2.6.1\n", "eeprom: holds data\n"})
        EXPECT_NE(r.Out.find(line), std::string::npos) << line;
    EXPECT_NE(r.Err.find("Reading flash ok.\n"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("Reading EEProm ok.\n"), std::string::npos) << r.Err;

    // The copies load back to exactly what the device holds.
    std::vector<std::string> copies;
    for (const auto& e : std::filesystem::directory_iterator(Scratch("copies")))
        copies.push_back(e.path().filename().string());
    std::sort(copies.begin(), copies.end());
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].rfind("eeprom-ATmega644P-", 0), 0u) << copies[0];
    EXPECT_EQ(copies[1].rfind("flash-ATmega644P-", 0), 0u) << copies[1];
    const FlashImageBuffer loaded;
    ReadIntelHex(Scratch("copies/" + copies[1]), loaded.Data(), isp::FlashImageSize);
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), loaded.Data()));
    ReadIntelHex(Scratch("copies/" + copies[0]), loaded.Data(), isp::FlashImageSize);
    EXPECT_TRUE(std::equal(Eeprom.begin(), Eeprom.end(), loaded.Data()));
    EXPECT_FALSE(std::filesystem::exists(Scratch("data/KARDO/Q40Prog/pending-eeprom.json")));

    // --json: one document on stdout, nothing else there.
    const CommandResult j = Cli({"read", "--port", Port(), "--catalogue", Catalogue(), "--json"});
    ASSERT_EQ(j.ExitCode, 0) << j.Err;
    const nlohmann::json doc = nlohmann::json::parse(j.Out);
    EXPECT_EQ(doc["chip"], "ATmega644P");
    EXPECT_EQ(doc["fuses"]["Lo"]["value"], "0x62");
    EXPECT_EQ(doc["flash"]["identifiers"][0]["text"], "KQ410 2.6.1");
    EXPECT_EQ(doc["flash"]["check_values"][0]["valid"], true);
    EXPECT_EQ(doc["eeprom"]["blank"], false);
    EXPECT_EQ(doc["verdict"], LastLine(r.Out));
    ExpectUnchanged(flash);

    // Each run has its record line.
    std::ifstream record(Scratch("data/KARDO/Q40Prog/runs.jsonl"));
    std::string line;
    int reads = 0;
    while (std::getline(record, line)) reads += nlohmann::json::parse(line)["operation"] == "read";
    EXPECT_EQ(reads, 2);
}

TEST_F(CliRead, VerdictsOfAnErasedAndAForeignDevice) {
    const std::vector<uint8_t> erased(FlashBytes, 0xFF);
    StartDevice(erased);
    CommandResult r = Cli({"read", "--port", Port(), "--catalogue", Catalogue()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(LastLine(r.Out), "erased");
    ExpectUnchanged(erased);

    const std::vector<uint8_t> foreign = RandomBytes(FlashBytes, 2);
    StartDevice(foreign);
    r = Cli({"read", "--port", Port(), "--catalogue", Catalogue()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(LastLine(r.Out), "no identifier of this catalogue found");
    // A named catalogue that is not there is refused before the port is opened.
    r = Cli({"read", "--port", Port(), "--catalogue", Scratch("none.INI")});
    EXPECT_EQ(r.ExitCode, ExitFailed);
    EXPECT_EQ(r.Err, "q40prog-cli: catalogue " + Scratch("none.INI") + " not found\n");
    ExpectUnchanged(foreign);
}

TEST_F(CliRead, VerifyPassesOnTheItemAndFailsOnOneByteChanged) {
    const std::vector<uint8_t> flash = Installed();
    StartDevice(flash);
    CommandResult r = Cli({"verify", "--port", Port(), "--item", "3", "--catalogue", Catalogue()});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(LastLine(r.Out), "Device holds this item's firmware.");
    EXPECT_NE(r.Err.find("Flash verifyed ok.\n"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("reading eeprom"), std::string::npos);

    // Item 4 is for another chip: refused as an update would be.
    r = Cli({"verify", "--port", Port(), "--item", "4", "--catalogue", Catalogue()});
    EXPECT_EQ(r.ExitCode, ExitFailed);
    EXPECT_EQ(r.Err, "q40prog-cli: This item cannot be programmed using this selection!\n");
    ExpectUnchanged(flash);

    std::vector<uint8_t> changed = flash;
    changed[0x2345] ^= 0x10;
    StartDevice(changed);
    r = Cli({"verify", "--port", Port(), "--firmware", Scratch("Firmware/main.bin"), "--bootloader",
             "10240"});
    EXPECT_EQ(r.ExitCode, ExitFailed) << r.Out;
    for (const char* line : {"verify failed: Flash verify error!\n", "*** data dump begin ***\n",
                             "Written at Address 0x00002340\n", "Read from Address 0x00002340\n",
                             "1 of 2048 blocks of 32 bytes differ, the first at 0x00002340\n",
                             "nothing was written to the device\n"})
        EXPECT_NE(r.Out.find(line), std::string::npos) << line << r.Out;
    r = Cli({"verify", "--port", Port(), "--firmware", Scratch("Firmware/main.bin")});
    EXPECT_EQ(r.ExitCode, ExitFailed);  // stamped at the file's end, not the item's length
    EXPECT_NE(r.Out.find("3 of 2048 blocks"), std::string::npos) << r.Out;
    ExpectUnchanged(changed);
}

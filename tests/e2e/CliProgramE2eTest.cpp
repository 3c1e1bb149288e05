// q40prog-cli program against q40prog-boxsim: the device ends up with the stamped image,
// the given fuses and its own EEPROM, and the exit code tells whether it was touched.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "image/CheckValue.h"
#include "link/IspLink.h"
#include "platform/posix/PosixSerialPort.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/e2e/LiveCommand.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitUntouched = 1;
constexpr int ExitNeedsRun = 3;

struct Fuses {
    uint8_t Lo, Hi, Ex;
};

class CliProgram : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
    }

    // A device with old firmware and EEPROM content worth keeping.
    void StartDevice(const std::string& chip, std::size_t flashBytes, std::size_t eepromBytes,
                     std::vector<std::string> faults = {}) {
        Eeprom = RandomBytes(eepromBytes, 7);
        WriteBytes(Scratch("eeprom.in"), Eeprom);
        WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(flashBytes, 0x00));
        std::vector<std::string> options{"--chip",        chip,
                                         "--eeprom-in",   Scratch("eeprom.in"),
                                         "--flash-in",    Scratch("flash.in"),
                                         "--dump-flash",  Scratch("flash.bin"),
                                         "--dump-eeprom", Scratch("eeprom.bin")};
        options.insert(options.end(), faults.begin(), faults.end());
        StartBox(options);
    }

    // The flash the device must hold: the file's bytes, 0xFF beyond, the check value stamped.
    static std::vector<uint8_t> Stamped(const std::vector<uint8_t>& file, std::size_t flashBytes,
                                        uint32_t length) {
        std::vector<uint8_t> flash(isp::FlashImageSize, isp::Blank);
        std::copy(file.begin(), file.end(), flash.begin());
        StampCheckValue(flash.data(), length);
        flash.resize(flashBytes);
        return flash;
    }

    Fuses ReadFuses() {
        TIspLink link(std::make_unique<PosixSerialPort>(), SystemClock());
        link.OpenPort(Port());
        link.ResetProgrammer();
        link.SetPortTime(100);
        link.EnableProgMode();
        Fuses f{};
        link.IspCommand(0x50, 0x00, 0x00, 0x00, 0);
        f.Lo = link.Reply[3];
        link.IspCommand(0x58, 0x08, 0x00, 0x00, 0);
        f.Hi = link.Reply[3];
        link.IspCommand(0x50, 0x08, 0x00, 0x00, 0);
        f.Ex = link.Reply[3];
        link.DisableProgMode();
        return f;
    }

    std::string CopyNamedIn(const std::string& log) const {
        const std::string marker = "saving eeprom copy to ";
        const auto at = log.find(marker);
        if (at == std::string::npos) return {};
        return log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
    }

    std::string LastRecord() const {
        std::ifstream in(Scratch("data") + "/KARDO/Q40Prog/runs.jsonl");
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return last;
    }

    std::vector<uint8_t> Eeprom;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* const TargetLost =
    "no chip answers on the ISP header any more: the board was taken off or lost contact\n";
const char* const BoxGone =
    "the programmer box does not answer any more: check its cable and that it is powered\n";
}  // namespace

TEST_F(CliProgram, UpdatesTheDeviceAndKeepsItsEeprom) {
    const struct {
        const char* chip;
        std::size_t flash, eeprom;
        uint32_t image;
    } cases[] = {{"ATmega644P", 0x10000, 0x800, 0xC000}, {"ATmega2560", 0x40000, 0x1000, 0x3F000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip);
        StartDevice(c.chip, c.flash, c.eeprom);
        const std::vector<uint8_t> image = RandomBytes(c.image, 3);
        WriteBytes(Scratch("fw.bin"), image);
        const CommandResult r = Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin"),
                                     "--fuse-lo", "$E2", "--fuse-hi", "0xD9", "--fuse-ex", "253"});
        ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        EXPECT_NE(r.Out.find("done without any problem.\n"), std::string::npos);
        const Fuses f = ReadFuses();
        EXPECT_EQ(f.Lo, 0xE2);
        EXPECT_EQ(f.Hi, 0xD9);
        EXPECT_EQ(f.Ex, 0xFD);
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped(image, c.flash, c.image));
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
        EXPECT_EQ(ReadBytes(CopyNamedIn(r.Out)), Eeprom);
    }
}

TEST_F(CliProgram, CatalogueItemPicksItsProcessorEntry) {
    StartDevice("ATmega644P", 0x10000, 0x800);
    const std::vector<uint8_t> image = RandomBytes(0x2000, 4);
    std::filesystem::create_directories(Scratch("Firmware"));
    WriteBytes(Scratch("Firmware/main.bin"), image);
    std::ofstream(Scratch("Q40Prog.INI")) << "[ITEM_2]\nNAME=Main\nFirmware=main.bin\n"
                                             "Processor_1=ATmega644P\nFuse_Hi_1=$11\n"
                                             "Processor_2=atmega644p\nFuse_Hi_2=$D9\n"
                                             "Bootloader_2=$1000\n"
                                             "[ITEM_3]\nNAME=Other\nFirmware=main.bin\n"
                                             "Processor_1=ATmega2560\n";
    CommandResult r =
        Cli({"program", "--port", Port(), "--item", "3", "--catalogue", Scratch("Q40Prog.INI")});
    EXPECT_EQ(r.ExitCode, 1);
    // The fixed text, and on the line below it which chip answered and which the item lists.
    EXPECT_NE(r.Err.find("q40prog-cli: This item cannot be programmed using this selection!\n"
                         "  The connected chip is ATmega644P; this item lists ATmega2560.\n"),
              std::string::npos)
        << r.Err;

    r = Cli({"program", "--port", Port(), "--item", "2", "--catalogue", Scratch("Q40Prog.INI")});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("programming Hi fuse $D9\n"), std::string::npos);
    EXPECT_EQ(ReadFuses().Hi, 0xD9);
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped(image, 0x10000, 0x1000));
}

// The item names its identifier; a firmware file without it may be the wrong one. It is
// programmed, and the log and the record say what it lacks.
TEST_F(CliProgram, AFirmwareWithoutTheItemsIdentifierIsSaidAndRecorded) {
    StartDevice("ATmega644P", 0x10000, 0x800);
    const std::vector<uint8_t> image = RandomBytes(0x2000, 4);
    std::filesystem::create_directories(Scratch("Firmware"));
    WriteBytes(Scratch("Firmware/main.bin"), image);
    std::ofstream(Scratch("Q40Prog.INI"))
        << "[ITEM_1]\nNAME=Main\nVERSION=AB1+5\nFirmware=main.bin\nProcessor_1=ATmega644P\n";
    const CommandResult r =
        Cli({"program", "--port", Port(), "--item", "1", "--catalogue", Scratch("Q40Prog.INI")});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("flash file size is 8192\n"
                         "the firmware holds no identifier matching AB1+5\n"
                         "setting port time to 100\n"),
              std::string::npos)
        << r.Out;
    std::ifstream records(Scratch("data") + "/KARDO/Q40Prog/runs.jsonl");
    std::string record;
    std::getline(records, record);
    EXPECT_NE(record.find("\"firmware_id\":\"\",\"firmware_id_pattern\":\"AB1+5\","
                          "\"firmware_id_missing\":true"),
              std::string::npos)
        << record;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped(image, 0x10000, 0x2000));
}

// An empty firmware file is no firmware: the device is left as it was, and the text says so
// rather than that the firmware is too large.
TEST_F(CliProgram, AnEmptyFirmwareIsRefusedWithItsOwnText) {
    StartDevice("ATmega644P", 0x10000, 0x800);
    std::ofstream(Scratch("empty.hex")) << ":00000001FF\n";
    const CommandResult r = Cli({"program", "--port", Port(), "--firmware", Scratch("empty.hex")});
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("flash file size is 0\n"
                         "programming interrupted: Firmware image is empty or too short.\n" +
                         Scratch("empty.hex") + " holds no data\n"),
              std::string::npos)
        << r.Out;
    std::ifstream records(Scratch("data") + "/KARDO/Q40Prog/runs.jsonl");
    std::string record;
    std::getline(records, record);
    EXPECT_NE(record.find("\"image_length\":0,"), std::string::npos) << record;
    EXPECT_NE(record.find("\"code\":34,"), std::string::npos) << record;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), std::vector<uint8_t>(0x10000, 0x00));
}

TEST_F(CliProgram, ExitCodeTellsWhetherTheDeviceWasTouched) {
    StartDevice("ATmega644P", 0x10000, 0x800, {"--stuck-flash", "0x100"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 5));
    CommandResult r =
        Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin"), "--fuse-lo", "$G2"});
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out;
    EXPECT_NE(r.Out.find("programming interrupted: Invalid number."), std::string::npos) << r.Out;

    r = Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin")});
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out;
    const std::string copy = CopyNamedIn(r.Out);
    EXPECT_NE(r.Out.find("the device needs another update; its eeprom copy is " + copy),
              std::string::npos);

    r = Cli({"restore-eeprom", "--port", Port(), copy});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
}

TEST_F(CliProgram, IspLockoutNeedsExplicitPermission) {
    StartDevice("ATmega644P", 0x10000, 0x800);
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 6));
    const Fuses before = ReadFuses();
    const std::vector<std::string> run{"program",         "--port",    Port(), "--firmware",
                                       Scratch("fw.bin"), "--fuse-hi", "0xFF"};
    CommandResult r = Cli(run);
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out;
    EXPECT_NE(r.Out.find("chip type is ATmega644P\nprogramming interrupted: Fuse value would lock "
                         "out serial programming.\nHi fuse 0xFF would disable serial programming "
                         "(SPIEN); to allow it"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(ReadFuses().Hi, before.Hi);

    std::vector<std::string> allowed = run;
    allowed.push_back("--allow-isp-lockout");
    r = Cli(allowed);
    EXPECT_EQ(r.ExitCode, 0) << r.Out;
    EXPECT_EQ(ReadFuses().Hi, 0xFF);

    // From the catalogue: Lockout_<k> of the matching processor entry.
    std::filesystem::create_directories(Scratch("Firmware"));
    WriteBytes(Scratch("Firmware/main.bin"), RandomBytes(0x1000, 8));
    for (const char* lockout : {"", "yes"}) {
        SCOPED_TRACE(std::string("Lockout_1=") + lockout);
        std::ofstream(Scratch("Q40Prog.INI"))
            << "[ITEM_1]\nNAME=Main\nFirmware=main.bin\nProcessor_1=ATmega644P\n"
               "Fuse_Hi_1=0xDE\nLockout_1="
            << lockout << "\n";  // SPIEN stays programmed: allowed either way
        r = Cli(
            {"program", "--port", Port(), "--item", "1", "--catalogue", Scratch("Q40Prog.INI")});
        EXPECT_EQ(r.ExitCode, 0) << r.Out;
        std::ofstream(Scratch("Q40Prog.INI"))
            << "[ITEM_1]\nNAME=Main\nFirmware=main.bin\nProcessor_1=ATmega644P\n"
               "Fuse_Hi_1=0xF9\nLockout_1="
            << lockout << "\n";
        r = Cli(
            {"program", "--port", Port(), "--item", "1", "--catalogue", Scratch("Q40Prog.INI")});
        EXPECT_EQ(r.ExitCode, *lockout ? 0 : ExitUntouched) << r.Out;
        EXPECT_EQ(ReadFuses().Hi, *lockout ? 0xF9 : 0xDE);
    }
}

// Every number is checked before the port is opened: a bad speed after good fuses leaves the
// fuses as they were, and the log holds the fixed text with the detail on the next line.
TEST_F(CliProgram, BadNumbersFailBeforeThePortIsOpened) {
    StartDevice("ATmega644P", 0x10000, 0x800);
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 6));
    const Fuses before = ReadFuses();
    const std::vector<std::string> program = {"program", "--port", Port(), "--firmware",
                                              Scratch("fw.bin")};
    const struct {
        std::vector<std::string> Options;
        std::string Out;
    } cases[] = {
        {{"--fuse-lo", "$E2", "--fuse-hi", "0xD9", "--speed", "fast"},
         "programming interrupted: Invalid number.\n"
         "speed 'fast' is not a number from 0 to 65535\n"},
        {{"--fuse-lo", "256"},
         "programming interrupted: Invalid number.\nLo fuse '256' is not a number from 0 to 255\n"},
        {{"--bootloader", "2"},
         "programming interrupted: Firmware image is empty or too short.\n"
         "application length 2 leaves no room for the check value; it needs 3 bytes or more\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Out);
        std::vector<std::string> args = program;
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Err;
        EXPECT_EQ(r.Out, c.Out);
    }
    const Fuses after = ReadFuses();
    EXPECT_EQ(after.Lo, before.Lo);
    EXPECT_EQ(after.Hi, before.Hi);
    EXPECT_EQ(after.Ex, before.Ex);

    std::vector<std::string> args = program;
    args.insert(args.end(), {"--bootloader", "61440 bytes"});
    const CommandResult usage = Cli(args);
    EXPECT_EQ(usage.ExitCode, 2);
    EXPECT_NE(usage.Err.find("--bootloader needs a number, not '61440 bytes'"), std::string::npos)
        << usage.Err;
    EXPECT_EQ(usage.Out, "");
}

// A fuse the chip lacks is refused before anything is written: before the port is opened when
// the catalogue's entry names the chip, after the identification when only the options give
// the fuse.
TEST_F(CliProgram, FuseTheChipLacksIsRefused) {
    StartDevice("ATmega8", 0x2000, 0x200);
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 9));
    const Fuses before = ReadFuses();
    CommandResult r = Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin"),
                           "--fuse-lo", "$E2", "--fuse-ex", "0x00"});
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("chip type is ATmega8\nprogramming interrupted: Fuse not present on "
                         "this chip.\nthe ATmega8 has only the Lo and Hi fuses: Ex fuse 0x00 "
                         "cannot be written; leave it out (--fuse-ex on the command line, "
                         "Fuse_Ex_<k> in the catalogue)\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Out.find("programming Lo fuse"), std::string::npos) << r.Out;
    EXPECT_EQ(ReadFuses().Lo, before.Lo);
    ASSERT_EQ(StopBox(), 0);

    StartDevice("AT90S2313", 0x800, 0x80);
    std::filesystem::create_directories(Scratch("Firmware"));
    WriteBytes(Scratch("Firmware/main.bin"), RandomBytes(0x400, 10));
    std::ofstream(Scratch("Q40Prog.INI")) << "[ITEM_1]\nNAME=Old board\nFirmware=main.bin\n"
                                             "Processor_1=at90s2313\nFuse_Lo_1=0xDF\n";
    r = Cli({"program", "--port", Port(), "--item", "1", "--catalogue", Scratch("Q40Prog.INI")});
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_EQ(r.Out,
              "programming interrupted: Fuse not present on this chip.\n"
              "the AT90S2313 has no fuse that serial programming can write: Lo fuse 0xDF cannot "
              "be written; leave it out (--fuse-lo on the command line, Fuse_Lo_<k> in the "
              "catalogue)\n");
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), std::vector<uint8_t>(0x800, 0x00));
}

// Each fuse is read back after its write: bits the chip lacks read as 1 and pass; a fuse that
// does not take fails the run before the erase, with exit code 3 and both values in the log.
TEST_F(CliProgram, FusesAreReadBackAfterTheirWrite) {
    StartDevice("ATmega644P", 0x10000, 0x800, {"--stuck-fuse", "hi"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 11));
    CommandResult r =
        Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin"), "--fuse-ex", "0x05"});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFuses().Ex, 0xFD);

    r = Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin"), "--fuse-lo", "0xE2",
             "--fuse-hi", "0x99", "--fuse-ex", "0x04"});
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("programming Hi fuse 0x99\n"
                         "programming interrupted: Fuse verify error.\n"
                         "Hi fuse written as 0x99 reads back as 0xD9 (the ATmega644P implements "
                         "bits 0xFF of it)\n"
                         "fuses written before the failure: Lo=0xE2 Hi=0x99\n"
                         "fuses the device holds now: Lo=0xE2 Hi=0xD9\n"
                         "the device needs another update\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Out.find("programming Ex fuse"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("erasing chip"), std::string::npos) << r.Out;
    const Fuses f = ReadFuses();
    EXPECT_EQ(f.Lo, 0xE2);
    EXPECT_EQ(f.Hi, 0xD9);
    EXPECT_EQ(f.Ex, 0xFD);  // not written after the failure
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
}

// A board taken off during the flash reads back blank bytes as a stuck flash does; asked for
// its signature once more, the chip tells which it was, in the log below the failure and its
// dump, and in the record's cause.
TEST_F(CliProgram, FlashFailuresNameTheirCause) {
    // Identification and the EEPROM take some 3000 bytes; an image of 0x8000 some 47000 more.
    const struct {
        std::vector<std::string> Fault;
        const char* Failure;
        std::string Cause, Said;
    } cases[] = {
        {{"--stuck-flash", "0x100"},
         "Flash programm error!",
         "verify mismatch",
         "*** data dump end ***\nthe chip still answers on the ISP header: it did not keep "
         "what "
         "was written\n"},
        {{"--target-off-after", "20000"},
         "Flash programm error!",
         "target lost",
         std::string("*** data dump end ***\n") + TargetLost},
        {{"--drop-after", "20000"},
         "Programmer not connected.",
         "box silent",
         std::string("the box went quiet while programming the flash at address 0x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Cause);
        StartDevice("ATmega644P", 0x10000, 0x800, c.Fault);
        WriteBytes(Scratch("fw.bin"), RandomBytes(0x8000, 5));
        const CommandResult r = Cli({"program", "--port", Port(), "--firmware", Scratch("fw.bin")});
        EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
        EXPECT_TRUE(Has(r.Out, std::string("programming flash...\nprogramming interrupted: ") +
                                   c.Failure + "\n"))
            << r.Out;
        EXPECT_TRUE(Has(r.Out, c.Said)) << r.Out;
        if (c.Cause == "box silent") {
            EXPECT_TRUE(Has(r.Out, BoxGone)) << r.Out;
        }
        EXPECT_TRUE(Has(LastRecord(), "\"cause\":\"" + c.Cause + "\"")) << LastRecord();
        EXPECT_EQ(StopBox(), 0);
    }
}

// The box killed mid-flash takes its port with it: the run says the box is gone, not the chip.
TEST_F(CliProgram, BoxKilledMidFlashIsBoxSilent) {
    StartDevice("ATmega644P", 0x10000, 0x800, {"--baud-pace"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x10000, 5));  // a flash of some seconds
    LiveCommand cli;
    ASSERT_TRUE(cli.Start({Q40_CLI, "program", "--port", Port(), "--firmware", Scratch("fw.bin")}));
    ASSERT_TRUE(cli.WaitForLine("Programming/Verifying flash... 10%"));
    EXPECT_EQ(StopBox(), 0);  // its end closes the port's other side, as a pulled adapter does
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, std::string("programming interrupted: Serial port error!\n") + BoxGone))
        << r.Out;
    EXPECT_TRUE(Has(LastRecord(), "\"cause\":\"box silent\"")) << LastRecord();
}

// During an update the doctor names it as what it is: an update to wait for, never a program
// to end.
TEST_F(CliProgram, DoctorDuringAnUpdateSaysToWaitForIt) {
    StartDevice("ATmega644P", 0x10000, 0x800, {"--baud-pace"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x10000, 5));
    LiveCommand cli;
    ASSERT_TRUE(cli.Start({Q40_CLI, "program", "--port", Port(), "--firmware", Scratch("fw.bin")}));
    ASSERT_TRUE(cli.WaitForLine("programming flash..."));
    const CommandResult doctor = Cli({"doctor", "--port", Port()});
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(doctor.ExitCode, 1);
    EXPECT_TRUE(Has(doctor.Out, "is held by q40prog-cli (pid ")) << doctor.Out;
    EXPECT_TRUE(Has(doctor.Out, "), updating a device on this port: wait for it to end.\n"))
        << doctor.Out;
    EXPECT_FALSE(Has(doctor.Out, "end that program")) << doctor.Out;
}

// HEX files made by other tools (objcopy, srec_cat) load as the binary they came from, and
// q40prog-cli image prints their size, check value and identifiers. The tools run at test time
// (scripts/setup installs them): the table of address forms fails without them, the single
// cases are skipped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "tests/image/ImageFiles.h"

namespace {

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct CliResult {
    int Exit = -1;
    std::string Out, Err;
};

class ToolFiles : public ::testing::Test {
protected:
    TempDir Dir;

    // Firmware of 'size' bytes with an application and a bootloader identifier in it.
    std::vector<uint8_t> Firmware(std::size_t size) {
        auto bytes = NoiseBytes(size, 99);
        const char app[] = "Q40A1 fw 1.0";
        const char boot[] = "Q40*1 bl 0.9";
        std::memcpy(bytes.data() + 0x1000, app, sizeof app);
        if (size >= 0x3F000) std::memcpy(bytes.data() + 0x3E000, boot, sizeof boot);
        return bytes;
    }

    bool Run(const std::string& command) {
        return std::system((command + " >" + Quoted(Dir.Path("tool.out")) + " 2>&1").c_str()) == 0;
    }

    std::vector<uint8_t> Load(const std::string& path, int32_t expectedSize) {
        std::vector<uint8_t> image(isp::FlashImageSize);
        EXPECT_EQ(LoadFlashFile(path, image.data()), expectedSize);
        return image;
    }

    CliResult Cli(const std::string& arguments) {
        const std::string out = Dir.Path("cli.out"), err = Dir.Path("cli.err");
        const int status = std::system((std::string(Q40PROG_CLI) + " image " + arguments + " >" +
                                        Quoted(out) + " 2>" + Quoted(err))
                                           .c_str());
        CliResult r;
        r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.Out = ReadText(out);
        r.Err = ReadText(err);
        return r;
    }

    static std::string CheckLine(const std::vector<uint8_t>& image, uint32_t length) {
        const uint32_t at = length > 2 ? length - 2 : 0;
        const uint16_t value = CheckValueOf(image.data(), at);
        const bool present = image[at] == (value & 0xFF) && image[at + 1] == (value >> 8);
        char line[64];
        std::snprintf(line, sizeof line, "check 0x%04X %s\n", value,
                      present ? "present" : "written");
        return line;
    }
};

// One way a tool writes Intel HEX. {bin} and {hex} stand for the input and output files.
struct ToolForm {
    const char* Name;
    const char* Tool;
    const char* Command;
    const char* Marker;    // a record that shows the form, in files above 128 KB
    std::size_t MaxBytes;  // the largest image the form can express
};

const ToolForm ToolForms[] = {
    {"objcopy: extended segment records", "objcopy", "objcopy -I binary -O ihex {bin} {hex}",
     ":020000022000DC", isp::FlashImageSize},
    {"srec_cat: extended linear records (its default)", "srec_cat",
     "srec_cat {bin} -binary -o {hex} -intel", ":020000040002F8", isp::FlashImageSize},
    {"srec_cat --address-length=4: linear, 255-byte records, start address record", "srec_cat",
     "srec_cat {bin} -binary -execution-start-address=0 -o {hex} -intel --address-length=4 "
     "-obs=255",
     ":020000040002F8", isp::FlashImageSize},
    {"srec_cat --address-length=3: segment records, start address record", "srec_cat",
     "srec_cat {bin} -binary -execution-start-address=0 -o {hex} -intel --address-length=3",
     ":020000022000DC", isp::FlashImageSize},
    {"srec_cat --address-length=2: 16-bit addresses only", "srec_cat",
     "srec_cat {bin} -binary -o {hex} -intel --address-length=2", nullptr, 0x10000},
};

std::string Substituted(std::string command, const std::string& bin, const std::string& hex) {
    command.replace(command.find("{bin}"), 5, Quoted(bin));
    command.replace(command.find("{hex}"), 5, Quoted(hex));
    return command;
}

// Below 64 KB, above 64 KB, above 128 KB (an ATmega2560 firmware of 150 KB), the whole flash:
// the HEX file loads exactly as its raw binary, and q40prog-cli image says the same of both.
TEST_F(ToolFiles, EveryAddressFormLoadsAsItsRawBinary) {
    const std::size_t sizes[] = {40000, std::size_t{100} * 1024, std::size_t{150} * 1024,
                                 isp::FlashImageSize};
    for (const ToolForm& form : ToolForms) {
        if (!HaveTool(form.Tool)) {
            ADD_FAILURE() << form.Tool << " is not installed (scripts/setup installs it)";
            continue;
        }
        for (const std::size_t size : sizes) {
            if (size > form.MaxBytes) continue;
            SCOPED_TRACE(std::string(form.Name) + ", " + std::to_string(size) + " bytes");
            const auto bytes = Firmware(size);
            const std::string bin = Dir.Write("fw.bin", bytes), hex = Dir.Path("fw.hex");
            ASSERT_TRUE(Run(Substituted(form.Command, bin, hex))) << ReadText(Dir.Path("tool.out"));
            if (size > 0x20000 && form.Marker) {
                EXPECT_NE(ReadText(hex).find(form.Marker), std::string::npos) << "not this form";
            }
            const auto fromHex = Load(hex, static_cast<int32_t>(size));
            const auto fromBin = Load(bin, static_cast<int32_t>(size));
            EXPECT_EQ(FirstDifference(fromHex, fromBin), -1);
            EXPECT_EQ(FirstDifference(fromHex, ExpectedImage({{0, bytes}})), -1);
            const CliResult hexOut = Cli(Quoted(hex) + " --id Q40A1");
            const CliResult binOut = Cli(Quoted(bin) + " --id Q40A1");
            EXPECT_EQ(hexOut.Exit, 0) << hexOut.Err;
            EXPECT_EQ(hexOut.Out, binOut.Out);
            EXPECT_EQ(hexOut.Out, "size " + std::to_string(size) + "\n" +
                                      CheckLine(bytes, static_cast<uint32_t>(size)) +
                                      "id Q40A1 fw 1.0\n");
        }
    }
}

TEST_F(ToolFiles, ObjcopyAtAnOffsetAcrossSixtyFourK) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";
    const auto bytes = NoiseBytes(0x2345, 3);
    const std::string bin = Dir.Write("part.bin", bytes), hex = Dir.Path("part.hex");
    ASSERT_TRUE(Run("objcopy -I binary -O ihex --change-addresses 0xF000 " + Quoted(bin) + " " +
                    Quoted(hex)));
    EXPECT_EQ(FirstDifference(Load(hex, 0xF000 + 0x2345), ExpectedImage({{0xF000, bytes}})), -1);
}

// objcopy writes linear records only for addresses beyond 1 MB: such a file is no firmware for
// these chips and fails at its first data byte, not folded into the flash.
TEST_F(ToolFiles, ObjcopyLinearRecordsBeyondTheFlashFail) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";
    const std::string bin = Dir.Write("part.bin", NoiseBytes(64, 4)), hex = Dir.Path("far.hex");
    ASSERT_TRUE(Run("objcopy -I binary -O ihex --change-addresses 0x100000 " + Quoted(bin) + " " +
                    Quoted(hex)));
    ASSERT_NE(ReadText(hex).find(":020000040010EA"), std::string::npos);
    std::vector<uint8_t> image(isp::FlashImageSize);
    try {
        LoadFlashFile(hex, image.data());
        ADD_FAILURE() << "no failure";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errAddressRange);
        EXPECT_EQ(e.Detail, "File: " + hex + ", line 2");
    }
}

// A file with both kinds of base record loads where objcopy puts its bytes.
TEST_F(ToolFiles, MixedBaseRecordsLoadAsObjcopyReadsThem) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";
    const std::string text = Data(0, {0x11}) + LinearAddress(0x0001) + Segment(0x1000) +
                             Data(0x0010, Bytes(20, 1)) + Segment(0x0100) +
                             Data(0xFFF8, Bytes(16)) + LinearAddress(0) + Data(0x0100, {0x22}) +
                             EndOfFile;
    const std::string hex = Dir.Write("mixed.hex", text), bin = Dir.Path("mixed.bin");
    ASSERT_TRUE(
        Run("objcopy -I ihex -O binary --gap-fill 0xFF " + Quoted(hex) + " " + Quoted(bin)));
    const std::string reference = ReadText(bin);
    const auto image = Load(hex, static_cast<int32_t>(reference.size()));
    EXPECT_EQ(reference.size(), 0x21008u);  // 0x10000 + 0x1000 + 0xFFF8 + 16
    EXPECT_EQ(
        FirstDifference(
            image, ExpectedImage({{0, std::vector<uint8_t>(reference.begin(), reference.end())}})),
        -1);
}

TEST_F(ToolFiles, CliOnObjcopyHex) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";
    const auto bytes = Firmware(isp::FlashImageSize);
    const std::string bin = Dir.Write("fw.bin", bytes), hex = Dir.Path("fw.hex");
    ASSERT_TRUE(Run("objcopy -I binary -O ihex " + Quoted(bin) + " " + Quoted(hex)));
    const CliResult r = Cli(Quoted(hex) + " --id Q40+1");
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "size 262144\n" + CheckLine(bytes, isp::FlashImageSize) +
                         "id Q40A1 fw 1.0\nbootloader Q40*1 bl 0.9\n");
}

TEST_F(ToolFiles, CliOnSrecCatHexWithLength) {
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    const auto bytes = Firmware(isp::FlashImageSize);
    const std::string bin = Dir.Write("fw.bin", bytes), hex = Dir.Path("fw.hex");
    ASSERT_TRUE(Run("srec_cat " + Quoted(bin) + " -binary -o " + Quoted(hex) +
                    " -intel --address-length=3"));
    const CliResult r = Cli(Quoted(hex) + " --length 0x3E000 --id Q40A1");
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "size 262144\n" + CheckLine(bytes, 0x3E000) + "id Q40A1 fw 1.0\n");
}

TEST_F(ToolFiles, CliOnRawBinary) {
    auto bytes = Firmware(0x8000);
    // The file already carries its value over 0x7000 bytes.
    const uint16_t value = CheckValueOf(bytes.data(), 0x7000 - 2);
    bytes[0x7000 - 2] = static_cast<uint8_t>(value);
    bytes[0x7000 - 1] = static_cast<uint8_t>(value >> 8);
    const std::string bin = Dir.Write("FW.BIN", bytes);
    char expected[64];
    std::snprintf(expected, sizeof expected, "size 32768\ncheck 0x%04X present\n", value);
    const CliResult r = Cli(Quoted(bin) + " --length=28672");
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, expected);

    const CliResult noId = Cli(Quoted(bin) + " --id Q40+2");
    EXPECT_EQ(noId.Out, "size 32768\n" + CheckLine(bytes, 0x8000) + "id \nbootloader \n");
}

// Refused as a run refuses them, with the same text: no data, or a length that leaves the
// check value no room.
TEST_F(ToolFiles, CliShortLengthAndEmptyImage) {
    const std::string empty = Dir.Write("empty.hex", EndOfFile);
    const std::string text = "q40prog-cli: Firmware image is empty or too short.\n  ";
    for (const std::string& length : {std::string(), std::string(" --length 0x100")}) {
        const CliResult r = Cli(Quoted(empty) + length);
        EXPECT_EQ(r.Exit, 1) << length;
        EXPECT_EQ(r.Out, "size 0\n");
        EXPECT_EQ(r.Err, text + empty + " holds no data\n");
    }
    const std::string one = Dir.Write("one.hex", Data(0, {1}));
    for (const char* length : {"0", "1", "2"}) {
        const CliResult r = Cli(Quoted(one) + " --length " + length);
        EXPECT_EQ(r.Exit, 1) << length;
        EXPECT_EQ(r.Out, "size 1\n");
        EXPECT_EQ(r.Err, text + "length " + length +
                             " leaves no room for the check value; it needs 3 bytes or more\n");
    }
    const CliResult three = Cli(Quoted(one) + " --length 3");
    EXPECT_EQ(three.Exit, 0) << three.Err;
    EXPECT_EQ(three.Out, "size 1\ncheck 0x1021 written\n");
}

TEST_F(ToolFiles, CliLoadFailureOnStderrExitOne) {
    const CliResult missing = Cli(Quoted(Dir.Path("gone.hex")));
    EXPECT_EQ(missing.Exit, 1);
    EXPECT_EQ(missing.Out, "");
    EXPECT_EQ(missing.Err, "q40prog-cli: Error opening firmware file.\n  File: " +
                               Dir.Path("gone.hex") + ": No such file or directory\n");

    const std::string bad = Dir.Write("bad.hex", Data(0, {1}) + Data(1, {2}, 1));
    const CliResult checksum = Cli(Quoted(bad));
    EXPECT_EQ(checksum.Exit, 1);
    EXPECT_EQ(checksum.Err,
              "q40prog-cli: Error loading hex file. (Bad checksum)\n  File: " + bad + ", line 2\n");

    const CliResult fifo = Cli("/dev/zero");
    EXPECT_EQ(fifo.Exit, 1);
    EXPECT_EQ(fifo.Err,
              "q40prog-cli: Error opening firmware file.\n  File: /dev/zero: is a device, not a "
              "firmware file\n");

    const std::string ok = Dir.Write("ok.hex", Data(0, {1}));
    const CliResult length = Cli(Quoted(ok) + " --length -1");
    EXPECT_EQ(length.Exit, 1);
    EXPECT_NE(length.Err.find("Image length out of range."), std::string::npos) << length.Err;
}

TEST_F(ToolFiles, CliUsage) {
    const std::string ok = Dir.Write("ok.hex", Data(0, {1}));
    EXPECT_EQ(Cli("").Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " " + Quoted(ok)).Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " --length").Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " --length 12x").Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " --length 0x").Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " --length 99999999999").Exit, 2);
    EXPECT_EQ(Cli(Quoted(ok) + " --colour").Exit, 2);
    const CliResult help = Cli("--help");
    EXPECT_EQ(help.Exit, 0);
    EXPECT_NE(help.Out.find("usage: q40prog-cli image FILE [--id PATTERN] [--length N]"),
              std::string::npos);
}

}  // namespace

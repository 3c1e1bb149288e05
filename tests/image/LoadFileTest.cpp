// Which reader a file name chooses, the raw binary reader, and files that cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/ImageLoader.h"
#include "tests/image/ImageFiles.h"

namespace {

TEST(Extension, OnlyTheFileNamesOwnExtensionCounts) {
    const struct {
        const char* Path;
        bool Binary;
    } cases[] = {
        {"fw.bin", true},
        {"fw.BIN", true},
        {"fw.Bin", true},
        {"/a/b/fw.bin", true},
        {"fw.hex.bin", true},
        {".bin", true},
        {"fw.bin.hex", false},
        {"fw.hex", false},
        {"fw.eep", false},
        {"fw", false},
        {"fw.", false},
        {"fw.binx", false},
        {"fw.bi", false},
        {"x.bin/fw", false},
        {"x.bin/fw.hex", false},
        {"/a.bin/b/firmware", false},
        {"", false},
        {"bin", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasBinaryExtension(c.Path), c.Binary) << c.Path;
}

class LoadFile : public ::testing::Test {
protected:
    TempDir Dir;
    std::vector<uint8_t> Image = std::vector<uint8_t>(isp::FlashImageSize, 0x5A);

    EProgError LoadFailure(const std::string& path) {
        try {
            LoadFlashFile(path, Image.data());
        } catch (const EProgError& e) {
            return e;
        }
        ADD_FAILURE() << "no failure for " << path;
        return EProgError(-1);
    }
};

TEST_F(LoadFile, UpperCaseBinIsRawBinary) {
    const auto bytes = NoiseBytes(1000);
    EXPECT_EQ(LoadFlashFile(Dir.Write("FW.BIN", bytes), Image.data()), 1000);
    std::vector<uint8_t> expected = ExpectedImage({{0, bytes}});
    EXPECT_EQ(FirstDifference(Image, expected), -1);
}

TEST_F(LoadFile, BinDotHexIsIntelHex) {
    EXPECT_EQ(LoadFlashFile(Dir.Write("fw.bin.hex", Data(0x10, {1, 2})), Image.data()), 0x12);
    EXPECT_EQ(FirstDifference(Image, ExpectedImage({{0x10, {1, 2}}})), -1);
}

TEST_F(LoadFile, FileWithoutExtensionInsideABinFolderIsIntelHex) {
    std::filesystem::create_directory(Dir.Path("x.bin"));
    EXPECT_EQ(LoadFlashFile(Dir.Write("x.bin/firmware", Data(0, {3})), Image.data()), 1);
    EXPECT_EQ(FirstDifference(Image, ExpectedImage({{0, {3}}})), -1);
}

TEST_F(LoadFile, EmptyBinaryIsSizeZeroAndBlank) {
    EXPECT_EQ(LoadFlashFile(Dir.Write("empty.bin", ""), Image.data()), 0);
    EXPECT_EQ(FirstDifference(Image, ExpectedImage({})), -1);
}

TEST_F(LoadFile, BinaryLongerThanTheFlashIsCut) {
    const auto bytes = NoiseBytes(isp::FlashImageSize + 100);
    EXPECT_EQ(LoadFlashFile(Dir.Write("big.bin", bytes), Image.data()), isp::FlashImageSize);
    EXPECT_TRUE(std::equal(Image.begin(), Image.end(), bytes.begin()));
}

TEST_F(LoadFile, BinaryReaderHonoursItsLimit) {
    std::vector<uint8_t> small(8, 0);
    EXPECT_EQ(ReadBinary(Dir.Write("fw.bin", Bytes(20, 1)), small.data(), 8), 8);
    EXPECT_EQ(small, Bytes(8, 1));
    EXPECT_EQ(ReadBinary(Dir.Path("fw.bin"), small.data(), 0), 0);
}

TEST_F(LoadFile, FolderNamedBinIsAFailureNamingIt) {
    std::filesystem::create_directory(Dir.Path("x.bin"));
    const EProgError e = LoadFailure(Dir.Path("x.bin"));
    EXPECT_EQ(e.Code, errFileOpen);
    EXPECT_EQ(e.Detail, "(File: " + Dir.Path("x.bin") + ": Is a directory)");
    EXPECT_EQ(DescribeError(e),
              "Error opening firmware file. (File: " + Dir.Path("x.bin") + ": Is a directory)");
}

TEST_F(LoadFile, FolderNamedHexIsAFailure) {
    std::filesystem::create_directory(Dir.Path("x.hex"));
    EXPECT_EQ(LoadFailure(Dir.Path("x.hex")).Code, errFileOpen);
}

TEST_F(LoadFile, MissingFileIsAFailureNotABlankImage) {
    for (const char* name : {"missing.hex", "missing.bin", "missing"}) {
        const EProgError e = LoadFailure(Dir.Path(name));
        EXPECT_EQ(e.Code, errFileOpen) << name;
        EXPECT_EQ(e.Detail, "(File: " + Dir.Path(name) + ": No such file or directory)");
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ENOENT));
    }
}

// The failure as a user without read rights sees it; a superuser drops to "nobody" in a child
// process first, since it reads every file.
std::pair<int32_t, std::string> LoadAsUnprivileged(const std::string& path) {
    int fds[2];
    if (pipe(fds) != 0) return {-2, "pipe"};
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        std::string report = "none";
        std::vector<uint8_t> image(isp::FlashImageSize);
        try {
            LoadFlashFile(path, image.data());
        } catch (const EProgError& e) {
            report = std::to_string(e.Code) + " " + e.Detail;
        }
        const ssize_t n = write(fds[1], report.data(), report.size());
        _exit(n == static_cast<ssize_t>(report.size()) ? 0 : 3);
    }
    close(fds[1]);
    std::string report;
    char chunk[256];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) report.append(chunk, n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-2, "child failed"};
    const auto space = report.find(' ');
    if (space == std::string::npos) return {-1, report};
    return {std::stoi(report.substr(0, space)), report.substr(space + 1)};
}

TEST_F(LoadFile, FileWithoutReadRightsIsAFailure) {
    for (const char* name : {"locked.hex", "locked.bin"}) {
        const std::string path = Dir.Write(name, Data(0, {1}));
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
        const auto [code, detail] = LoadAsUnprivileged(path);
        EXPECT_EQ(code, errFileOpen) << detail;
        EXPECT_EQ(detail, "(File: " + path + ": Permission denied)");
    }
}

}  // namespace

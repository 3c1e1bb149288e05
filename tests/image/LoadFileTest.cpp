// Which reader a file name chooses, the raw binary reader, and files that cannot be read.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <thread>

#include "image/FirmwareFile.h"
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
    EXPECT_EQ(GetErrorText(e.Code), "Error opening firmware file.");
    EXPECT_EQ(e.Detail, "File: " + Dir.Path("x.bin") + ": is a folder, not a firmware file");
    EXPECT_EQ(e.OsError, 0u);  // the loader's own verdict, not the OS's
}

TEST_F(LoadFile, FolderNamedHexIsAFailure) {
    std::filesystem::create_directory(Dir.Path("x.hex"));
    EXPECT_EQ(LoadFailure(Dir.Path("x.hex")).Code, errFileOpen);
}

TEST_F(LoadFile, MissingFileIsAFailureNotABlankImage) {
    for (const char* name : {"missing.hex", "missing.bin", "missing"}) {
        const EProgError e = LoadFailure(Dir.Path(name));
        EXPECT_EQ(e.Code, errFileOpen) << name;
        EXPECT_EQ(e.Detail, "File: " + Dir.Path(name) + ": No such file or directory");
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ENOENT));
    }
}

// Rights, pipes and devices are POSIX's; the loads run in a child process.
#ifndef _WIN32
// Loads in a child process and reports the failure code and detail (-1 and "none" when it
// loaded). The child may not outlive 'guardSeconds', so a load that blocks or reads without end
// fails the test instead of hanging it. With 'unprivileged' a superuser drops to "nobody"
// first, since it reads every file.
std::pair<int32_t, std::string> LoadInChild(const std::string& path, bool unprivileged = false,
                                            unsigned guardSeconds = 60) {
    int fds[2];
    if (pipe(fds) != 0) return {-2, "pipe"};
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        alarm(guardSeconds);
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
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
    if (WIFSIGNALED(status))
        return {-2, "child ended by signal " + std::to_string(WTERMSIG(status))};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-2, "child failed"};
    const auto space = report.find(' ');
    if (space == std::string::npos) return {-1, report};
    return {std::stoi(report.substr(0, space)), report.substr(space + 1)};
}

TEST_F(LoadFile, FileWithoutReadRightsIsAFailure) {
    for (const char* name : {"locked.hex", "locked.bin"}) {
        const std::string path = Dir.Write(name, Data(0, {1}));
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
        const auto [code, detail] = LoadInChild(path, true);
        EXPECT_EQ(code, errFileOpen) << detail;
        EXPECT_EQ(detail, "File: " + path + ": Permission denied");
    }
}

// Only regular files are firmware: a pipe without a writer would block the run for ever, a
// device such as /dev/zero would stream until memory runs out.
TEST_F(LoadFile, PipesAndDevicesFailAtOnce) {
    const std::string fifo = Dir.Path("fifo.hex"), fifoBin = Dir.Path("fifo.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(fifoBin.c_str(), 0600), 0);
    const std::string zeroBin = Dir.Path("zero.bin");
    std::filesystem::create_symlink("/dev/zero", zeroBin);
    const struct {
        std::string Path;
        const char* Reason;
    } cases[] = {
        {fifo, "is a named pipe, not a firmware file"},
        {fifoBin, "is a named pipe, not a firmware file"},
        {"/dev/zero", "is a device, not a firmware file"},
        {zeroBin, "is a device, not a firmware file"},
    };
    for (const auto& c : cases) {
        const auto [code, detail] = LoadInChild(c.Path);
        EXPECT_EQ(code, errFileOpen) << c.Path << ": " << detail;
        EXPECT_EQ(detail, "File: " + c.Path + ": " + c.Reason);
    }
}
#endif

TEST_F(LoadFile, HexFilesAreReadUpTo64MiB) {
    // Sparse files: no disk space taken, and blanks hold no record.
    const std::string atLimit = Dir.Path("limit.hex"), over = Dir.Path("over.hex");
    std::filesystem::resize_file(Dir.Write("limit.hex", ""), MaxFirmwareFileBytes);
    std::filesystem::resize_file(Dir.Write("over.hex", ""), MaxFirmwareFileBytes + 1);
    EXPECT_EQ(LoadFlashFile(atLimit, Image.data()), 0);
    const EProgError e = LoadFailure(over);
    EXPECT_EQ(e.Code, errFileOpen);
    EXPECT_EQ(e.Detail, "File: " + over + ": is larger than 64 MiB, not a firmware file");
    // A raw binary reads only its first 0x40000 bytes, whatever the file's size.
    std::filesystem::resize_file(Dir.Write("big.bin", ""), MaxFirmwareFileBytes + 1);
    EXPECT_EQ(LoadFlashFile(Dir.Path("big.bin"), Image.data()), isp::FlashImageSize);
}

// A build that rewrites the firmware while it loads: the file shrinks and grows again under
// the reader. Every load either gives a whole image or fails with a code; none crashes.
TEST_F(LoadFile, FileCutShorterWhileLoadingNeverCrashes) {
    const auto bytes = NoiseBytes(isp::FlashImageSize, 5);
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        if (at % 0x10000 == 0) text += LinearAddress(static_cast<unsigned>(at >> 16));
        text += Data(static_cast<unsigned>(at & 0xFFFF),
                     std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + 16));
    }
    const std::pair<const char*, std::string> files[] = {
        {"moving.hex", text}, {"moving.bin", std::string(bytes.begin(), bytes.end())}};
    for (const auto& file : files) {
        const std::string name = file.first;
        const std::string& content = file.second;
        SCOPED_TRACE(name);
        const std::string path = Dir.Write(name, content);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (!stop) {
                std::filesystem::resize_file(path, content.size() / 3);
                std::ofstream(path, std::ios::binary) << content;
            }
        });
        int whole = 0, failed = 0;
        for (int i = 0; i < 300; ++i) {
            try {
                const int32_t size = LoadFlashFile(path, Image.data());
                if (size == isp::FlashImageSize &&
                    std::equal(Image.begin(), Image.end(), bytes.begin()))
                    ++whole;
            } catch (const EProgError& e) {
                EXPECT_TRUE(e.Code == errFileOpen || e.Code == errHexSyntax) << e.Code;
                ++failed;
            }
        }
        stop = true;
        writer.join();
        RecordProperty(name + " whole loads", whole);
        RecordProperty(name + " failed loads", failed);
    }
}

}  // namespace

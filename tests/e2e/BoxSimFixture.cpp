#include "tests/e2e/BoxSimFixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/posix/PosixSerialPort.h"

void BoxSimTest::SetUp() {
    std::string pattern = std::filesystem::temp_directory_path() / "q40_e2e.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Folder = pattern;
}

void BoxSimTest::TearDown() {
    if (Sim.Running()) {
        EXPECT_EQ(OpenPortErrno(Port()), 0) << "the port stays blocked after the test";
        EXPECT_EQ(StopBox(), 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
}

void BoxSimTest::StartBox(const std::vector<std::string>& options) {
    ASSERT_TRUE(Sim.Start(options)) << Sim.Error();
}

CommandResult BoxSimTest::Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{Q40_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

int OpenPortErrno(const std::string& path) {
    PosixSerialPort port;
    if (!port.Open(path)) return port.LastError();
    port.Close();
    return 0;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

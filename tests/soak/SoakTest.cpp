// Soak: 200 chip queries and 20 full updates against one q40prog-boxsim, through the
// termios serial layer, in this one process. After the last of each, the open file
// descriptors and the heap in use must be what they were after the first: a link that
// forgot to close its port, or a run that kept something, shows here.
//
// The link's own waits (reset pulse, programming-mode entry, erase) are skipped with a
// clock that does not sleep; the serial layer and its read time-outs are the real ones.
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/CheckValue.h"
#include "link/DeviceTable.h"
#include "platform/posix/PosixSerialPort.h"
#include "programming/Probes.h"
#include "programming/ProgrammingRun.h"
#include "sim/BoxSimProcess.h"
#include "tests/support/TempFolder.h"

#if defined(__SANITIZE_ADDRESS__)
#define Q40_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define Q40_ASAN 1
#endif
#endif
#ifdef Q40_ASAN
// From the sanitizer runtime; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {
constexpr int ChipQueries = 200;
constexpr int Updates = 20;
constexpr std::size_t ImageBytes = 0x1000;
constexpr const char* Chip = "ATmega644P";

class NoWaitClock : public IClock {
public:
    void SleepMs(int) override {}
};

// A report that keeps nothing, so the heap figures show only what the run itself keeps.
class QuietReport : public IRunReport {
public:
    void ClearLog() override {}
    void Log(const std::string&) override {}
    void ChipIdentified(const std::string&) override {}
    bool Progress(int32_t, int32_t, ProgressPhase) override { return false; }
    bool StopRequested() override { return false; }
    void StopPending() override {}
    void Failed(const std::string&) override {}
    void Ended(const RunOutcome&) override {}
};

struct Usage {
    int Descriptors = 0;
    std::size_t HeapBytes = 0;
    bool operator==(const Usage& o) const {
        return Descriptors == o.Descriptors && HeapBytes == o.HeapBytes;
    }
};

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

// Under the address sanitizer its allocator keeps the books, not malloc's.
std::size_t HeapInUse() {
#ifdef Q40_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

Usage Now() {
    return {OpenDescriptors(), HeapInUse()};
}

bool Report(const char* what, int count, const Usage& first, const Usage& last) {
    std::printf("%-14s x%-4d descriptors %d -> %d, heap in use %zu -> %zu bytes: %s\n", what, count,
                first.Descriptors, last.Descriptors, first.HeapBytes, last.HeapBytes,
                first == last ? "unchanged" : "CHANGED");
    return first == last;
}

std::vector<uint8_t> RandomBytes(std::size_t count, unsigned key) {
    std::mt19937 gen(key);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Each query and each update lives in its own call, so nothing of it is alive when the
// figures are taken.
bool QueryOnce(const std::string& port, const LinkFactory& link, int number) {
    const ProbeResult r = QueryChipType(port, link);
    if (r.Ok && r.Text == Chip) return true;
    std::printf("chip query %d failed: %s\n", number, r.Text.c_str());
    return false;
}

bool UpdateOnce(const RunParams& params, const LinkFactory& link, const std::string& data,
                int number) {
    QuietReport report;
    ProgrammingRun run(params, report, link, RunOptions{data, ""});
    const RunOutcome o = run.Execute();
    if (o.Success) return true;
    std::printf("update %d failed: %s\n", number, o.Message.c_str());
    return false;
}

bool SoakQueries(const std::string& port, const LinkFactory& link) {
    if (!QueryOnce(port, link, 1)) return false;
    const Usage first = Now();
    for (int i = 2; i <= ChipQueries; ++i)
        if (!QueryOnce(port, link, i)) return false;
    return Report("chip queries", ChipQueries, first, Now());
}

bool SoakUpdates(const RunParams& params, const LinkFactory& link, const std::string& data) {
    if (!UpdateOnce(params, link, data, 1)) return false;
    const Usage first = Now();
    for (int i = 2; i <= Updates; ++i)
        if (!UpdateOnce(params, link, data, i)) return false;
    return Report("full updates", Updates, first, Now());
}

// malloc's per-thread cache keeps freed blocks that mallinfo2 still counts as in use, so
// the heap figure would move with whatever the cache happens to hold. Without the cache
// (a glibc tunable, read at start-up) the figure counts live blocks only.
void RestartWithoutMallocCache(char** argv) {
#ifndef Q40_ASAN
    static const char* const NoCache = "glibc.malloc.tcache_count=0";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, NoCache)) return;
    const std::string value =
        tunables && *tunables ? std::string(tunables) + ":" + NoCache : NoCache;
    setenv("GLIBC_TUNABLES", value.c_str(), 1);
    execv("/proc/self/exe", argv);
#endif
    (void)argv;
}
}  // namespace

// The update must still do its work at the end: the flash is the stamped image and the
// EEPROM is what it was.
bool MemoriesAsExpected(const TempFolder& temp, const std::vector<uint8_t>& image,
                        const std::vector<uint8_t>& eeprom, std::size_t flashBytes) {
    std::vector<uint8_t> expected(isp::FlashImageSize, isp::Blank);
    std::copy(image.begin(), image.end(), expected.begin());
    StampCheckValue(expected.data(), static_cast<uint32_t>(image.size()));
    expected.resize(flashBytes);
    const bool ok = ReadBytes(temp.File("flash.dump")) == expected &&
                    ReadBytes(temp.File("eeprom.dump")) == eeprom;
    std::printf("after the last update: flash %s the stamped image, EEPROM %s\n",
                ok ? "is" : "is NOT", ok ? "kept" : "NOT kept");
    return ok;
}

int main(int, char** argv) {
    RestartWithoutMallocCache(argv);
    const DeviceEntry& chip = *FindDeviceByName(Chip);
    TempFolder temp;
    const std::vector<uint8_t> eeprom = RandomBytes(static_cast<std::size_t>(chip.EepromSize), 1);
    const std::vector<uint8_t> image = RandomBytes(ImageBytes, 2);
    WriteBytes(temp.File("eeprom.in"), eeprom);
    WriteBytes(temp.File("firmware.bin"), image);
    BoxSimProcess box(Q40_BOXSIM);
    if (!box.Start({"--chip", Chip, "--eeprom-in", temp.File("eeprom.in"), "--dump-flash",
                    temp.File("flash.dump"), "--dump-eeprom", temp.File("eeprom.dump")})) {
        std::printf("%s\n", box.Error().c_str());
        return 1;
    }
    NoWaitClock clock;
    const LinkFactory link = [&] {
        return std::make_unique<TIspLink>(std::make_unique<PosixSerialPort>(), clock);
    };
    RunParams params;
    params.FirmwarePath = temp.File("firmware.bin");
    params.PortName = box.PortPath();
    bool ok = SoakQueries(box.PortPath(), link);
    ok = SoakUpdates(params, link, temp.File("data")) && ok;
    ok = box.Stop() == 0 && ok;
    ok = MemoriesAsExpected(temp, image, eeprom, static_cast<std::size_t>(chip.FlashSize)) && ok;
    return ok ? 0 : 1;
}

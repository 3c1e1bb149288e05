// bench_wire: programs a full random image into a paced simulator, through the real
// serial layer and a pseudo-terminal, and sets the time taken against the time the
// bytes themselves need on a 115200 baud line.
//
// The link waits for the echo of every command letter and for every reply before it
// sends on, so at no moment do both directions carry data: the floor is the wire time
// of all bytes of both directions one after the other, plus the link's own pauses
// (reset, programming-mode entry, erase). The busier direction alone would be the floor
// only for a protocol that streams without waiting.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/wire/CountingClock.h"
#include "bench/wire/CountingPort.h"
#include "link/DeviceTable.h"
#include "link/IspLink.h"
#include "link/PosixSerialPort.h"
#include "sim/BoxSimProcess.h"
#include "sim/PtyServer.h"
#include "sim/WireStats.h"

namespace {
constexpr double GoalRatio = 1.05;
constexpr double GoalCpuShare = 0.05;
constexpr uint32_t ImageKey = 0x5147;  // the same random image on every run
constexpr int PortTime = 100;

struct Measurement {
    std::string Chip;
    int LatencyMs = 0;
    int32_t ImageBytes = 0;
    double WallS = 0, CpuS = 0;
    WireStats Wire;
    long long Reads = 0, Writes = 0, SleptMs = 0;
};

double WireSeconds(long long bytes) {
    return static_cast<double>(bytes) * wire::BitsPerByte / wire::BaudRate;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

std::vector<uint8_t> RandomImage(std::size_t size) {
    std::mt19937 gen(ImageKey);
    std::vector<uint8_t> image(size);
    for (uint8_t& b : image) b = static_cast<uint8_t>(gen());
    return image;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The order of a programming run, without the EEPROM: what moves the most bytes.
void ProgramThroughLink(TIspLink& link, const std::string& port,
                        const std::vector<uint8_t>& image) {
    link.OpenPort(port);
    link.ResetProgrammer();
    link.SetPortTime(PortTime);
    link.EnableProgMode();
    link.ReadChipType();
    link.EraseChip();
    std::memset(link.FlashImage, isp::Blank, isp::FlashImageSize);
    std::memcpy(link.FlashImage, image.data(), image.size());
    link.OnProgress = [](void*, int32_t, int32_t, ProgressPhase) { return false; };
    link.ProgramFlash();
    link.DisableProgMode();
}

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/bench_wire.XXXXXX";
        if (mkdtemp(name)) Path = name;
    }
    ~TempDir() {
        for (const char* f : {"/stats", "/flash.bin"}) std::remove((Path + f).c_str());
        if (!Path.empty()) rmdir(Path.c_str());
    }
    std::string Path;
};

bool Measure(const std::string& chipName, int latencyMs, Measurement& m, std::string& error) {
    const DeviceEntry* chip = FindDeviceByName(chipName.c_str());
    if (!chip) return error = "unknown chip " + chipName, false;
    TempDir dir;
    if (dir.Path.empty()) return error = "no temporary folder", false;
    BoxSimProcess sim(Q40_BOXSIM);
    std::vector<std::string> options = {"--chip",
                                        chipName,
                                        "--baud-pace",
                                        "--stats",
                                        dir.Path + "/stats",
                                        "--dump-flash",
                                        dir.Path + "/flash.bin"};
    if (latencyMs > 0) options.insert(options.end(), {"--latency", std::to_string(latencyMs)});
    if (!sim.Start(options)) return error = sim.Error(), false;

    const std::vector<uint8_t> image = RandomImage(static_cast<std::size_t>(chip->FlashSize));
    CountingClock clock;
    auto owned = std::make_unique<CountingPort>(std::make_unique<PosixSerialPort>());
    CountingPort* port = owned.get();
    const int64_t start = MonotonicNs();
    const double cpuStart = CpuSeconds();
    try {
        auto link = std::make_unique<TIspLink>(std::move(owned), clock);
        ProgramThroughLink(*link, sim.PortPath(), image);
        m.Reads = port->Reads;
        m.Writes = port->Writes;
    } catch (const EProgError& e) {
        error = GetErrorText(e.Code);
        if (!e.Detail.empty()) error += "\n" + e.Detail;
        return false;
    }
    m.WallS = static_cast<double>(MonotonicNs() - start) / wire::NsPerSecond;
    m.CpuS = CpuSeconds() - cpuStart;
    m.Chip = chipName;
    m.LatencyMs = latencyMs;
    m.ImageBytes = chip->FlashSize;
    m.SleptMs = clock.SleptMs;

    if (sim.Stop() != 0) return error = "the simulator did not stop cleanly", false;
    if (!ParseWireStats(ReadFile(dir.Path + "/stats"), m.Wire))
        return error = "the simulator wrote no statistics", false;
    const std::string dump = ReadFile(dir.Path + "/flash.bin");
    if (dump.size() != image.size() || std::memcmp(dump.data(), image.data(), image.size()) != 0)
        return error = "the simulator's flash differs from the image", false;
    return true;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

void Print(const Measurement& m, const Measurement* unhindered) {
    const double in = WireSeconds(m.Wire.Received), out = WireSeconds(m.Wire.Sent);
    const double waits = m.SleptMs / 1000.0;
    const double floor = in + out + waits;
    const double ratio = m.WallS / floor;
    const double cpuShare = m.CpuS / m.WallS;
    std::printf("%s, %d KB random image, --baud-pace, --latency %d\n", m.Chip.c_str(),
                m.ImageBytes / 1024, m.LatencyMs);
    std::printf("  wall time                         %9.3f s\n", m.WallS);
    std::printf("  host -> box   %8lld bytes       %9.3f s on the wire\n", m.Wire.Received, in);
    std::printf("  box -> host   %8lld bytes       %9.3f s on the wire\n", m.Wire.Sent, out);
    std::printf("  wire floor, one after the other   %9.3f s  (the stated floor)\n", in + out);
    std::printf("  wire floor, busier direction      %9.3f s  (only without echo waits)\n",
                std::max(in, out));
    std::printf("  the link's own pauses             %9.3f s\n", waits);
    std::printf("  floor                             %9.3f s\n", floor);
    std::printf("  ratio wall / floor                %9.3f    (goal <= %.2f: %s)\n", ratio,
                GoalRatio, m.LatencyMs == 0 ? Verdict(ratio <= GoalRatio) : "n/a with latency");
    std::printf(
        "  host CPU                          %9.3f s = %.2f %% of one core (goal < %.0f %%: %s)\n",
        m.CpuS, 100 * cpuShare, 100 * GoalCpuShare, Verdict(cpuShare < GoalCpuShare));
    std::printf("  waits for the box (reads)         %9lld    writes %lld\n", m.Reads, m.Writes);
    std::printf("  time above the floor per wait     %9.1f us\n",
                1e6 * (m.WallS - floor) / static_cast<double>(m.Reads));
    if (unhindered) {
        const double cost = m.WallS - unhindered->WallS;
        std::printf("  cost of the latency               %9.3f s = %.2f ms per wait\n", cost,
                    1e3 * cost / static_cast<double>(m.Reads));
    }
    std::printf("\n");
    std::fflush(stdout);
}

bool ParseLatencies(const std::string& text, std::vector<int>& latencies) {
    std::istringstream in(text);
    std::string item;
    latencies.clear();
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || v < 0 || v > 1000) return false;
        latencies.push_back(static_cast<int>(v));
    }
    return !latencies.empty();
}

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "bench_wire: %s\nusage: bench_wire [--latency MS[,MS...]] [--chip NAME]...\n"
                 "  default: --latency 0 --chip ATmega2560 --chip ATmega644P\n",
                 problem);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<int> latencies = {0};
    std::vector<std::string> chips;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
        if (arg == "--latency" && !ParseLatencies(argv[++i], latencies))
            return Usage("--latency wants milliseconds from 0 to 1000, separated by commas");
        else if (arg == "--chip")
            chips.push_back(argv[++i]);
        else if (arg != "--latency")
            return Usage(("unknown argument " + arg).c_str());
    }
    if (chips.empty()) chips = {"ATmega2560", "ATmega644P"};

    std::vector<Measurement> done;
    for (int latency : latencies) {
        for (const std::string& chip : chips) {
            Measurement m;
            std::string error;
            if (!Measure(chip, latency, m, error)) {
                std::fprintf(stderr, "bench_wire: %s, --latency %d: %s\n", chip.c_str(), latency,
                             error.c_str());
                return 1;
            }
            const Measurement* unhindered = nullptr;
            for (const Measurement& d : done)
                if (d.Chip == chip && d.LatencyMs == 0) unhindered = &d;
            Print(m, latency > 0 ? unhindered : nullptr);
            done.push_back(m);
        }
    }
    return 0;
}

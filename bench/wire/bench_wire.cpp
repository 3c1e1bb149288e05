// bench_wire: a whole update (EEPROM read, chip erase, EEPROM written back, flash programmed
// and verified) through the real serial layer and a pseudo-terminal, against a simulator that
// paces its bytes at 115200 baud and takes the chip's write times, set against the least time
// that update can take. In the same run, a read of the device (fuses, lock bits, the whole
// flash and EEPROM) and a verify of its whole flash, each against its own floor.
//
// The link waits for the echo of every command letter and for every reply before it sends
// on, so at no moment do both directions carry data, and after an EEPROM block or a flash page
// the next echo waits until the chip has written it. The floor is therefore the wire time of
// all bytes of both directions one after the other, plus the chip's write times, plus the
// link's own pauses (reset, programming-mode entry, erase). The chip erase takes less than the
// pause the link makes after it, so it adds nothing of its own.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/wire/CountingClock.h"
#include "bench/wire/CountingPort.h"
#include "image/CheckValue.h"
#include "link/DeviceTable.h"
#include "link/IspLink.h"
#include "platform/posix/PosixSerialPort.h"
#include "programming/DeviceReadRun.h"
#include "sim/BoxModel.h"
#include "sim/BoxSimProcess.h"
#include "sim/PtyServer.h"
#include "sim/WireStats.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TestData.h"

namespace {
constexpr double GoalRatio = 1.03;
constexpr double GoalCpuShare = 0.05;
constexpr uint32_t FlashKey = 0x5147, EepromKey = 0x4545;  // the same images on every run
constexpr int PortTime = 100;

// What the chip had to write, told from the frames the link sent.
struct ChipWork {
    long long EepromBytes = 0, FlashBytes = 0, Pages = 0;
    double Seconds() const {
        return static_cast<double>(EepromBytes * chiptime::EepromByteUs +
                                   FlashBytes * chiptime::FlashByteUs +
                                   Pages * chiptime::FlashPageUs) /
               1e6;
    }
};

enum class Operation { Update, Read, Verify };

const char* NameOf(Operation op) {
    switch (op) {
        case Operation::Update:
            return "whole update";
        case Operation::Read:
            return "read";
        default:
            return "verify";
    }
}

struct Measurement {
    std::string Chip;
    Operation Op = Operation::Update;
    int LatencyMs = 0;
    int32_t FlashBytes = 0, EepromBytes = 0;
    double WallS = 0, CpuS = 0;
    WireStats Wire;
    ChipWork Work;
    long long Reads = 0, Writes = 0, SleptMs = 0;
};

double WireSeconds(long long bytes) {
    return static_cast<double>(bytes) * wire::BitsPerByte / wire::BaudRate;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
    return file.size() == bytes.size() && std::memcmp(file.data(), bytes.data(), bytes.size()) == 0;
}

// Splits the bytes the link wrote into command frames and adds up what the chip writes.
ChipWork WorkOf(const std::vector<uint8_t>& written) {
    ChipWork work;
    for (std::size_t i = 0; i < written.size();) {
        const uint8_t letter = written[i++];
        std::vector<uint8_t> tail;
        while (i < written.size() && tail.size() < CommandTailLength(letter, tail))
            tail.push_back(written[i++]);
        if (letter == isp::CmdWriteEeprom && tail.size() > 2) work.EepromBytes += tail[2];
        if (letter == isp::CmdWriteFlash && tail.size() > 5 && (tail[4] != 0 || tail[5] != 0))
            work.FlashBytes += tail[3];  // byte mode writes each byte at once
        if (letter == isp::CmdStorePage) ++work.Pages;
    }
    return work;
}

// The steps of a programming run that reach the box, without its files and fuses.
void UpdateThroughLink(TIspLink& link, const std::string& port, const std::vector<uint8_t>& flash) {
    link.OpenPort(port);
    link.ResetProgrammer();
    link.SetPortTime(PortTime);
    link.EnableProgMode();
    link.ReadChipType();
    std::memset(link.FlashImage, isp::Blank, isp::FlashImageSize);
    std::memcpy(link.FlashImage, flash.data(), flash.size());
    link.SetPortTime(PortTime);
    link.OnProgress = [](void*, int32_t, int32_t, ProgressPhase) { return false; };
    link.ReadEeprom();
    link.EraseChip();
    link.ProgramEeprom();
    link.ProgramFlash();
    link.DisableProgMode();
}

// The run's link owns its port and goes at the run's end; the counts must outlive it.
class BorrowedPort : public ISerialPort {
public:
    explicit BorrowedPort(ISerialPort& inner) : Inner(inner) {}
    bool Open(const std::string& name) override { return Inner.Open(name); }
    bool IsOpen() const override { return Inner.IsOpen(); }
    void Close() override { Inner.Close(); }
    bool ConfigureLine() override { return Inner.ConfigureLine(); }
    bool SetReadTimeouts(const ReadTimeouts& t) override { return Inner.SetReadTimeouts(t); }
    bool SetDtr(bool asserted) override { return Inner.SetDtr(asserted); }
    void PurgeReceive() override { Inner.PurgeReceive(); }
    void PurgeTransmit() override { Inner.PurgeTransmit(); }
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        return Inner.Read(dest, count, received);
    }
    bool Write(const uint8_t* src, std::size_t count) override { return Inner.Write(src, count); }
    int LastError() const override { return Inner.LastError(); }
    std::string Path() const override { return Inner.Path(); }

private:
    ISerialPort& Inner;
};

// Reads only: nothing for the chip to write, the device as it was.
RunOutcome ReadOrVerify(Operation op, ISerialPort& port, CountingClock& clock,
                        const std::string& portName, const std::string& folder) {
    DeviceReadRequest request;
    request.Operation = op == Operation::Read ? DeviceReadRequest::Read : DeviceReadRequest::Verify;
    request.PortName = portName;
    request.DataFolder = folder + "/data";
    request.FirmwarePath = folder + "/firmware.bin";
    RecordingReport report;  // never asks to stop
    const LinkFactory links = [&port, &clock] {
        return std::make_unique<TIspLink>(std::make_unique<BorrowedPort>(port), clock);
    };
    return DeviceReadRun(request, report, links).Execute();
}

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/bench_wire.XXXXXX";
        if (mkdtemp(name)) Path = name;
    }
    ~TempDir() {
        for (const char* f : {"/stats", "/flash.bin", "/eeprom.bin", "/eeprom-in.bin",
                              "/flash-in.bin", "/firmware.bin"})
            std::remove((Path + f).c_str());
        std::error_code ignored;
        std::filesystem::remove_all(Path + "/data", ignored);
        if (!Path.empty()) rmdir(Path.c_str());
    }
    std::string Path;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A firmware as long as the chip's flash, its check value in place, so that an update of it
// leaves exactly these bytes in the flash.
std::vector<uint8_t> StampedFlash(const DeviceEntry& chip) {
    std::vector<uint8_t> flash = RandomBytes(static_cast<std::size_t>(chip.FlashSize), FlashKey);
    flash.resize(isp::FlashImageSize, isp::Blank);
    StampCheckValue(flash.data(), static_cast<uint32_t>(chip.FlashSize));
    flash.resize(static_cast<std::size_t>(chip.FlashSize));
    return flash;
}

bool Measure(const std::string& chipName, int latencyMs, Operation op, Measurement& m,
             std::string& error) {
    const DeviceEntry* chip = FindDeviceByName(chipName.c_str());
    if (!chip) return error = "unknown chip " + chipName, false;
    TempDir dir;
    if (dir.Path.empty()) return error = "no temporary folder", false;
    const std::vector<uint8_t> flash = StampedFlash(*chip);
    const std::vector<uint8_t> eeprom =
        RandomBytes(static_cast<std::size_t>(chip->EepromSize), EepromKey);
    WriteFile(dir.Path + "/eeprom-in.bin", eeprom);
    WriteFile(dir.Path + "/firmware.bin", flash);
    // A read or verify finds the device holding the firmware already.
    if (op != Operation::Update) WriteFile(dir.Path + "/flash-in.bin", flash);

    BoxSimProcess sim(Q40_BOXSIM);
    std::vector<std::string> options = {"--chip",        chipName,
                                        "--baud-pace",   "--write-delays",
                                        "--stats",       dir.Path + "/stats",
                                        "--eeprom-in",   dir.Path + "/eeprom-in.bin",
                                        "--dump-flash",  dir.Path + "/flash.bin",
                                        "--dump-eeprom", dir.Path + "/eeprom.bin"};
    if (latencyMs > 0) options.insert(options.end(), {"--latency", std::to_string(latencyMs)});
    if (op != Operation::Update)
        options.insert(options.end(), {"--flash-in", dir.Path + "/flash-in.bin"});
    if (!sim.Start(options)) return error = sim.Error(), false;

    CountingClock clock;
    auto owned = std::make_unique<CountingPort>(std::make_unique<PosixSerialPort>());
    CountingPort* port = owned.get();
    const int64_t start = MonotonicNs();
    const double cpuStart = CpuSeconds();
    try {
        if (op == Operation::Update) {
            auto link = std::make_unique<TIspLink>(std::move(owned), clock);
            UpdateThroughLink(*link, sim.PortPath(), flash);
            m.Reads = port->Reads;
            m.Writes = port->Writes;
            m.Work = WorkOf(port->Written);
            if (link->RetriesUsed != 0) return error = "verification had to repeat blocks", false;
        } else {
            const RunOutcome o = ReadOrVerify(op, *owned, clock, sim.PortPath(), dir.Path);
            if (!o.Success) throw EProgError(o.Code, o.Detail);
            m.Reads = port->Reads;
            m.Writes = port->Writes;
            m.Work = WorkOf(port->Written);
            if (m.Work.Seconds() != 0) return error = "a read or verify made the chip write", false;
        }
    } catch (const EProgError& e) {
        error = GetErrorText(e.Code);
        if (!e.Detail.empty()) error += "\n" + e.Detail;
        return false;
    }
    m.WallS = static_cast<double>(MonotonicNs() - start) / wire::NsPerSecond;
    m.CpuS = CpuSeconds() - cpuStart;
    m.Chip = chipName;
    m.Op = op;
    m.LatencyMs = latencyMs;
    m.FlashBytes = chip->FlashSize;
    m.EepromBytes = chip->EepromSize;
    m.SleptMs = clock.SleptMs;

    if (sim.Stop() != 0) return error = "the simulator did not stop cleanly", false;
    if (!ParseWireStats(ReadFile(dir.Path + "/stats"), m.Wire))
        return error = "the simulator wrote no statistics", false;
    if (!SameBytes(ReadFile(dir.Path + "/flash.bin"), flash))
        return error = "the simulator's flash differs from the image", false;
    if (!SameBytes(ReadFile(dir.Path + "/eeprom.bin"), eeprom))
        return error = "the simulator's EEPROM is not what it held before the update", false;
    return true;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

void Print(const Measurement& m, const Measurement* unhindered) {
    const double in = WireSeconds(m.Wire.Received), out = WireSeconds(m.Wire.Sent);
    const double chipS = m.Work.Seconds();
    const double waits = static_cast<double>(m.SleptMs) / 1000.0;
    const double floor = in + out + chipS + waits;
    const double ratio = m.WallS / floor;
    const double cpuShare = m.CpuS / m.WallS;
    if (m.Op == Operation::Update)
        std::printf(
            "%s, whole update: %d B EEPROM read, erase, written back; %d KB random flash\n"
            "  (--baud-pace --write-delays --latency %d)\n",
            m.Chip.c_str(), m.EepromBytes, m.FlashBytes / 1024, m.LatencyMs);
    else if (m.Op == Operation::Read)
        std::printf(
            "%s, read: box, fuses, lock bits, %d KB flash, %d B EEPROM; nothing written\n"
            "  (--baud-pace --write-delays --latency %d)\n",
            m.Chip.c_str(), m.FlashBytes / 1024, m.EepromBytes, m.LatencyMs);
    else
        std::printf(
            "%s, verify: %d KB flash against the stamped image; nothing written\n"
            "  (--baud-pace --write-delays --latency %d)\n",
            m.Chip.c_str(), m.FlashBytes / 1024, m.LatencyMs);
    std::printf("  wall time                         %9.3f s\n", m.WallS);
    std::printf("  host -> box   %8lld bytes       %9.3f s on the wire\n", m.Wire.Received, in);
    std::printf("  box -> host   %8lld bytes       %9.3f s on the wire\n", m.Wire.Sent, out);
    std::printf(
        "  the chip's writes                 %9.3f s  (%lld EEPROM bytes, %lld flash "
        "bytes, %lld pages)\n",
        chipS, m.Work.EepromBytes, m.Work.FlashBytes, m.Work.Pages);
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
                 "  default: --latency 0 --chip ATmega644P --chip ATmega2560\n",
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
    if (chips.empty()) chips = {"ATmega644P", "ATmega2560"};

    std::vector<Measurement> done;
    for (int latency : latencies) {
        for (const std::string& chip : chips) {
            for (Operation op : {Operation::Update, Operation::Read, Operation::Verify}) {
                Measurement m;
                std::string error;
                if (!Measure(chip, latency, op, m, error)) {
                    std::fprintf(stderr, "bench_wire: %s, %s, --latency %d: %s\n", chip.c_str(),
                                 NameOf(op), latency, error.c_str());
                    return 1;
                }
                const Measurement* unhindered = nullptr;
                for (const Measurement& d : done)
                    if (d.Chip == chip && d.Op == op && d.LatencyMs == 0) unhindered = &d;
                Print(m, latency > 0 ? unhindered : nullptr);
                done.push_back(m);
            }
        }
    }
    return 0;
}

// bench_run: the same 64 KB update against a paced simulator, through the programming window
// (offscreen) and through q40prog-cli, several times each and alternating, to show what the
// window's repainting and message pumping cost on top of the run itself.
//
//   bench_run [--samples N]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/RandomImage.h"
#include "bench/wire/CountingClock.h"
#include "link/IspLink.h"
#include "programming/ProgForm.h"
#include "sim/BoxSimProcess.h"
#include "sim/WireSchedule.h"
#include "sim/WireStats.h"

namespace {
constexpr double GoalWindowOverCli = 1.02;
constexpr int ImageBytes = 0x10000;
constexpr uint32_t ImageKey = 0x5152;
constexpr int RunTimeoutMs = 600000;

using Clock = std::chrono::steady_clock;

struct Sample {
    double WallS = 0;
    WireStats Wire;
    double PausesS = -1;  // the link's own waits; counted where the link is in this process
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double WireSeconds(const WireStats& w) {
    return static_cast<double>(w.Received + w.Sent) * wire::BitsPerByte / wire::BaudRate;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool StartSim(BoxSimProcess& sim, const std::string& statsFile, std::string& error) {
    if (sim.Start({"--chip", "ATmega644P", "--baud-pace", "--stats", statsFile})) return true;
    error = "the simulator did not start: " + sim.Error();
    return false;
}

bool ReadStats(const std::string& file, WireStats& w) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseWireStats(text, w);
}

// The window's run, timed from the moment it makes its link (the window's own start delay is
// no part of the run); its link waits on a clock that counts them.
bool ThroughWindow(const std::string& firmware, const std::string& folder, Sample& s,
                   std::string& error) {
    BoxSimProcess sim(Q40_BOXSIM);
    const std::string stats = folder + "/window.stats";
    if (!StartSim(sim, stats, error)) return false;
    CountingClock clock;
    Clock::time_point start;
    TProgForm form;
    form.SetLinkFactory([&] {
        start = Clock::now();
        return std::make_unique<TIspLink>(MakeSystemSerialPort(), clock);
    });
    form.SetDataFolder(folder + "/data");
    form.Params.FirmwarePath = firmware;
    form.Params.PortName = sim.PortPath();
    form.show();
    if (!QTest::qWaitFor([&] { return form.CloseButton->text() == "Close"; }, RunTimeoutMs))
        return error = "the window's run did not end", false;
    s.WallS = Seconds(start);
    s.PausesS = static_cast<double>(clock.SleptMs) / 1000.0;
    form.hide();
    if (!form.LastOutcome().Success)
        return error = "the window's run failed: " + form.LastOutcome().Message, false;
    if (sim.Stop() != 0) return error = "the simulator did not stop cleanly", false;
    if (!ReadStats(stats, s.Wire)) return error = "the simulator wrote no statistics", false;
    return true;
}

bool ThroughCli(const std::string& firmware, const std::string& folder, Sample& s,
                std::string& error) {
    BoxSimProcess sim(Q40_BOXSIM);
    const std::string stats = folder + "/cli.stats";
    if (!StartSim(sim, stats, error)) return false;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execl(Q40_CLI, Q40_CLI, "program", "--port", sim.PortPath().c_str(), "--firmware",
              firmware.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    s.WallS = Seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return error = "q40prog-cli program failed", false;
    if (sim.Stop() != 0) return error = "the simulator did not stop cleanly", false;
    if (!ReadStats(stats, s.Wire)) return error = "the simulator wrote no statistics", false;
    return true;
}

// Both ways run the same update: the same bytes cross the line, and the link makes the same
// pauses, counted in the window's runs.
bool SameUpdate(const std::vector<Sample>& all, std::string& error) {
    for (const Sample& s : all)
        if (s.Wire.Received != all[0].Wire.Received || s.Wire.Sent != all[0].Wire.Sent)
            return error = "the runs moved different numbers of bytes", false;
    return true;
}

void Print(const char* name, const std::vector<double>& walls, double floorS) {
    const double median = Median(walls);
    std::printf("%-8s median %7.2f s  (min %7.2f, max %7.2f)   wall/floor %.3f\n", name, median,
                *std::min_element(walls.begin(), walls.end()),
                *std::max_element(walls.begin(), walls.end()), median / floorS);
}

int Usage(const char* problem) {
    std::fprintf(stderr, "bench_run: %s\nusage: bench_run [--samples N]  (default 5)\n", problem);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int samples = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--samples" && i + 1 < argc)
            samples = std::max(1, std::atoi(argv[++i]));
        else
            return Usage(("unknown argument " + arg).c_str());
    }
    char pattern[] = "/tmp/q40bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string firmware = WriteRandomImage(folder, ImageBytes, ImageKey);
    std::printf(
        "64 KB update of a paced ATmega644P (115200 baud 8N1), window vs command line, "
        "%d samples each, alternating\n",
        samples);
    std::fflush(stdout);

    std::vector<Sample> all;
    std::vector<double> windowWalls, cliWalls, pauses;
    std::string error;
    bool ok = true;
    for (int i = 0; i < samples && ok; ++i) {
        // Alternating which goes first, so that drift of the machine hits both alike.
        for (int k = 0; k < 2 && ok; ++k) {
            const bool window = (i + k) % 2 == 0;
            Sample s;
            ok = window ? ThroughWindow(firmware, folder, s, error)
                        : ThroughCli(firmware, folder, s, error);
            if (!ok) break;
            all.push_back(s);
            (window ? windowWalls : cliWalls).push_back(s.WallS);
            if (window) pauses.push_back(s.PausesS);
        }
    }
    ok = ok && SameUpdate(all, error);
    std::filesystem::remove_all(folder);
    if (!ok) {
        std::fprintf(stderr, "bench_run: %s\n", error.c_str());
        return 1;
    }
    const double pausesS = Median(pauses);
    const double floorS = WireSeconds(all[0].Wire) + pausesS;
    std::printf(
        "floor    %7.2f s  (%.2f s of bytes on the wire, %.2f s of the link's own pauses)\n",
        floorS, WireSeconds(all[0].Wire), pausesS);
    Print("cli", cliWalls, floorS);
    Print("window", windowWalls, floorS);
    const double ratio = Median(windowWalls) / Median(cliWalls);
    std::printf("window/cli %.3f (goal at most %.2f): %s\n", ratio, GoalWindowOverCli,
                ratio <= GoalWindowOverCli ? "met" : "NOT met");
    return 0;
}

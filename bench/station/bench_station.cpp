// bench_station: a 64 KB update of four paced ATmega644P boxes at once through
// q40prog-cli program --port x4, against the same update of one box alone, alternately in one
// run. Each box is its own serial line at 115200 baud, so four at once should take no longer
// than one; the host's CPU per box shows what the updater costs beside the wire.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/RandomImage.h"
#include "sim/BoxSimProcess.h"

namespace {
constexpr double GoalFourOverOne = 1.05;
constexpr int Boxes = 4;
constexpr int Samples = 3;  // of each, alternately; the medians are compared
constexpr int ImageBytes = 0x10000;
constexpr uint32_t ImageKey = 0x5153;

using Clock = std::chrono::steady_clock;

struct Sample {
    double WallS = 0;
    double CpuS = 0;  // user and system time of q40prog-cli
    bool Ok = false;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs q40prog-cli program on the ports, its output thrown away.
Sample Program(const std::string& firmware, const std::vector<std::string>& ports,
               const std::string& dataFolder) {
    std::vector<std::string> args{Q40_CLI, "program", "--firmware", firmware};
    for (const std::string& p : ports) args.insert(args.end(), {"--port", p});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Sample s;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_DATA_HOME", dataFolder.c_str(), 1);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    s.WallS = std::chrono::duration<double>(Clock::now() - start).count();
    s.CpuS = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    s.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return s;
}

// Fresh paced boxes for every sample, so that each update starts from the same device.
Sample UpdateBoxes(int count, const std::string& firmware, const std::string& folder) {
    std::vector<std::unique_ptr<BoxSimProcess>> sims;
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<BoxSimProcess>(Q40_BOXSIM));
        if (!sims.back()->Start({"--chip", "ATmega644P", "--baud-pace"})) {
            std::fprintf(stderr, "bench_station: simulator did not start: %s\n",
                         sims.back()->Error().c_str());
            return {};
        }
        ports.push_back(sims.back()->PortPath());
    }
    const Sample s = Program(firmware, ports, folder + "/data");
    for (auto& sim : sims) sim->Stop();
    return s;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string LoadText() {
    double load[3] = {};
    if (getloadavg(load, 3) != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}
}  // namespace

int main() {
    char pattern[] = "/tmp/q40bench-station-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string firmware = WriteRandomImage(folder, ImageBytes, ImageKey);
    std::printf(
        "64 KB update of paced ATmega644P boxes (115200 baud 8N1): %d at once against "
        "one alone, %d samples each\nload average before: %s (on %ld processors)\n",
        Boxes, Samples, LoadText().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::vector<double> oneWall, oneCpu, fourWall, fourCpu;
    bool ok = true;
    for (int i = 0; i < Samples; ++i) {
        const Sample one = UpdateBoxes(1, firmware, folder);
        const Sample four = UpdateBoxes(Boxes, firmware, folder);
        std::printf("sample %d: one %6.2f s (cpu %.2f s)   four %6.2f s (cpu %.2f s)%s\n", i + 1,
                    one.WallS, one.CpuS, four.WallS, four.CpuS,
                    one.Ok && four.Ok ? "" : "   FAILED");
        std::fflush(stdout);
        ok = ok && one.Ok && four.Ok;
        oneWall.push_back(one.WallS);
        oneCpu.push_back(one.CpuS);
        fourWall.push_back(four.WallS);
        fourCpu.push_back(four.CpuS / Boxes);
    }
    const double ratio = Median(fourWall) / Median(oneWall);
    std::printf("median wall: one %.2f s, four %.2f s\n", Median(oneWall), Median(fourWall));
    std::printf("host cpu per box: one alone %.3f s, four at once %.3f s\n", Median(oneCpu),
                Median(fourCpu));
    std::printf("four/one %.3f (goal at most %.2f): %s\n", ratio, GoalFourOverOne,
                ratio <= GoalFourOverOne ? "met" : "NOT met");
    std::printf("load average after: %s\n", LoadText().c_str());
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}

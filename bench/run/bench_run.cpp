// bench_run: the same 64 KB update against a paced simulator, once through the programming
// window (offscreen) and once through q40prog-cli, to show what the window's repainting and
// message pumping cost on top of the run itself.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "link/IspLink.h"
#include "programming/ProgForm.h"
#include "sim/BoxSimProcess.h"
#include "sim/WireSchedule.h"
#include "sim/WireStats.h"

namespace {
constexpr double GoalWindowOverCli = 1.02;
constexpr int ImageBytes = 0x10000;
constexpr uint32_t ImageKey = 0x5152;
// Pauses the link makes on its own: reset pulse and settle, programming-mode entry, erase.
constexpr double LinkPausesS =
    (isp::ResetPulseMs + isp::ResetSettleMs + 5 * isp::EnableStepMs + isp::EraseWaitMs) / 1000.0;
constexpr int RunTimeoutMs = 600000;

using Clock = std::chrono::steady_clock;

struct Result {
    double WallS = 0;
    WireStats Wire;
    bool Ok = false;
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double FloorS(const WireStats& w) {
    return static_cast<double>(w.Received + w.Sent) * wire::BitsPerByte / wire::BaudRate +
           LinkPausesS;
}

bool StartSim(BoxSimProcess& sim, const std::string& statsFile) {
    if (sim.Start({"--chip", "ATmega644P", "--baud-pace", "--stats", statsFile})) return true;
    std::fprintf(stderr, "bench_run: simulator did not start: %s\n", sim.Error().c_str());
    return false;
}

WireStats ReadStats(const std::string& file) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WireStats w;
    ParseWireStats(text, w);
    return w;
}

Result ThroughWindow(const std::string& firmware, const std::string& folder) {
    Result r;
    BoxSimProcess sim(Q40_BOXSIM);
    const std::string stats = folder + "/window.stats";
    if (!StartSim(sim, stats)) return r;
    TProgForm form;
    form.SetDataFolder(folder + "/data");
    form.Params.FirmwarePath = firmware;
    form.Params.PortName = sim.PortPath();
    const auto start = Clock::now();
    form.show();
    if (!QTest::qWaitFor([&] { return form.CloseButton->text() == "Close"; }, RunTimeoutMs))
        std::fprintf(stderr, "bench_run: the window's run did not end\n");
    r.WallS = Seconds(start) - TProgForm::StartDelayMs / 1000.0;  // the window's own start delay
    r.Ok = form.LastOutcome().Success;
    sim.Stop();
    r.Wire = ReadStats(stats);
    return r;
}

Result ThroughCli(const std::string& firmware, const std::string& folder) {
    Result r;
    BoxSimProcess sim(Q40_BOXSIM);
    const std::string stats = folder + "/cli.stats";
    if (!StartSim(sim, stats)) return r;
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
    r.WallS = Seconds(start);
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    sim.Stop();
    r.Wire = ReadStats(stats);
    return r;
}

std::string WriteImage(const std::string& folder) {
    std::mt19937 gen(ImageKey);
    std::string bytes(ImageBytes, '\0');
    for (char& b : bytes) b = static_cast<char>(gen());
    const std::string path = folder + "/image.bin";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

void Print(const char* name, const Result& r) {
    std::printf("%-8s wall %7.2f s   floor %7.2f s   wall/floor %.3f   %s\n", name, r.WallS,
                FloorS(r.Wire), r.WallS / FloorS(r.Wire), r.Ok ? "done" : "FAILED");
}
}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    char pattern[] = "/tmp/q40bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string firmware = WriteImage(folder);
    std::printf("64 KB update of a paced ATmega644P (115200 baud 8N1), window vs command line\n");
    const Result cli = ThroughCli(firmware, folder);
    const Result window = ThroughWindow(firmware, folder);
    Print("cli", cli);
    Print("window", window);
    const double ratio = window.WallS / cli.WallS;
    std::printf("window/cli %.3f (goal at most %.2f): %s\n", ratio, GoalWindowOverCli,
                ratio <= GoalWindowOverCli ? "met" : "NOT met");
    std::filesystem::remove_all(folder);
    return cli.Ok && window.Ok ? 0 : 1;
}

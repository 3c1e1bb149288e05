// q40prog-boxsim: the programmer box and its AVR target on a pseudo-terminal.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "link/StandardDescriptors.h"
#include "sim/BoxModel.h"
#include "sim/BoxSimOptions.h"
#include "sim/PtyServer.h"
#include "sim/RawImageFile.h"

namespace {
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// Paced bytes are 87 us apart; the default 50 us timer slack would stretch every wait.
constexpr unsigned long TimerSlackNs = 1;

volatile std::sig_atomic_t StopRequested = 0;
volatile std::sig_atomic_t ConnectRequested = 0;
volatile std::sig_atomic_t RemoveRequested = 0;

void RequestStop(int) {
    StopRequested = 1;
}
void RequestConnect(int) {
    ConnectRequested = 1;
}
void RequestRemove(int) {
    RemoveRequested = 1;
}

int Failure(const std::string& text) {
    std::fprintf(stderr, "q40prog-boxsim: %s\n", text.c_str());
    return ExitFailure;
}

// Blocks the stop and board signals outside the server's waits; 'waitMask' lets them in there.
void CatchSignals(sigset_t& waitMask) {
    const struct {
        int Signal;
        void (*Handler)(int);
    } caught[] = {{SIGTERM, RequestStop},
                  {SIGINT, RequestStop},
                  {SIGHUP, RequestStop},
                  {SIGUSR1, RequestConnect},
                  {SIGUSR2, RequestRemove}};
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const auto& c : caught) {
        struct sigaction action {};
        action.sa_handler = c.Handler;
        sigemptyset(&action.sa_mask);
        sigaction(c.Signal, &action, nullptr);
        sigaddset(&blocked, c.Signal);
    }
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    for (const auto& c : caught) sigdelset(&waitMask, c.Signal);
    std::signal(SIGPIPE, SIG_IGN);
}

// Boards put on and taken off the box, as the signals asked.
void ChangeBoards(BoxModel& box, const TargetModel& fresh) {
    if (RemoveRequested) {
        RemoveRequested = 0;
        if (box.TargetPresent()) std::fprintf(stderr, "q40prog-boxsim: target removed\n");
        box.RemoveTarget();
    }
    if (ConnectRequested) {
        ConnectRequested = 0;
        if (!box.TargetPresent()) {
            box.ConnectTarget(fresh);
            std::fprintf(stderr, "q40prog-boxsim: target connected (board %d)\n",
                         box.TargetsConnected);
        }
    }
}

bool Preload(const BoxSimOptions& o, TargetModel& target, std::string& error) {
    if (!o.FlashIn.empty() && !LoadRawImage(o.FlashIn, target.Flash, error)) return false;
    if (!o.EepromIn.empty() && !LoadRawImage(o.EepromIn, target.Eeprom, error)) return false;
    return true;
}

bool WriteDumps(const BoxSimOptions& o, const TargetModel& target) {
    std::string error;
    bool ok = true;
    if (!o.DumpFlash.empty() && !SaveRawImage(o.DumpFlash, target.Flash, error)) ok = false;
    if (!o.DumpEeprom.empty() && !SaveRawImage(o.DumpEeprom, target.Eeprom, error)) ok = false;
    if (!ok) Failure(error);
    return ok;
}

// A stale link from an earlier run is replaced; anything else at the path is not ours.
bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is no symlink";
        return false;
    }
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 ||
        std::rename(temporary.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char points[4096];
    const ssize_t n = ::readlink(link.c_str(), points, sizeof points - 1);
    if (n > 0 && std::string(points, static_cast<std::size_t>(n)) == target) ::unlink(link.c_str());
}

bool ReportStats(const BoxSimOptions& o, const WireStats& stats) {
    const std::string text = FormatWireStats(stats);
    if (o.StatsFile.empty()) {
        std::fputs(text.c_str(), stderr);
        return true;
    }
    std::ofstream out(o.StatsFile, std::ios::trunc);
    out << text;
    out.close();
    if (out) return true;
    Failure("cannot write " + o.StatsFile);
    return false;
}

int Run(const BoxSimOptions& o) {
    BoxModel box(o.Box);
    std::string error;
    if (!Preload(o, box.Target, error)) return Failure(error);
    PtyServer server(box, o.Wire);
    if (!server.Open()) return Failure(server.Error());
    if (!o.LinkPath.empty() && !MakeLink(o.LinkPath, server.PortPath(), error))
        return Failure(error);
    box.OnDisable = [&] { WriteDumps(o, box.Target); };
    const TargetModel fresh = box.Target;  // what every board connected later holds
    server.OnWake = [&] { ChangeBoards(box, fresh); };
    sigset_t waitMask;
    CatchSignals(waitMask);
    prctl(PR_SET_TIMERSLACK, TimerSlackNs);

    std::printf("%s\n", server.PortPath().c_str());
    std::fflush(stdout);
    const bool served = server.Serve(StopRequested, waitMask);
    if (!served) Failure(server.Error());

    bool ok = WriteDumps(o, box.Target) && served;
    if (o.Stats) ok = ReportStats(o, server.Stats()) && ok;
    if (!o.LinkPath.empty()) RemoveLink(o.LinkPath, server.PortPath());
    return ok ? ExitOk : ExitFailure;
}
}  // namespace

int main(int argc, char** argv) {
    // Before the pseudo-terminal is opened: its port line must go to stdout, not into the port.
    if (!OpenClosedStandardDescriptors()) return ExitFailure;
    BoxSimOptions options;
    std::string error;
    if (!ParseBoxSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "q40prog-boxsim: %s\n(q40prog-boxsim --help lists the options)\n",
                     error.c_str());
        return ExitUsage;
    }
    if (options.Help) {
        std::fputs(BoxSimUsage, stdout);
        return ExitOk;
    }
    return Run(options);
}

#include "cli/StopSignals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
constexpr int StopSignalNumbers[] = {SIGINT, SIGTERM};
constexpr int Caught[] = {SIGINT, SIGTERM, SIGHUP};

// Lock-free atomics: safe in the handler, and read by every run's thread.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> SignalsSeen{0};
std::atomic<int> HangUps{0};
std::atomic<int> OpenLine{0};
// Set before the handlers go in and left alone while they are in.
const char* Notice = nullptr;
const char* Again = nullptr;
std::size_t NoticeLength = 0, AgainLength = 0;

void Put(const char* text, std::size_t length) {
    // Nothing to do about a failed write to stderr; the update goes on regardless.
    if (::write(STDERR_FILENO, text, length) < 0) return;
}

void OnStopSignal(int) {
    const int savedErrno = errno;
    const bool first = SignalsSeen.fetch_add(1) == 0;
    if (Notice == nullptr) return;  // quiet: the command says it; nothing touched errno
    if (OpenLine) {
        Put("\n", 1);
        OpenLine = 0;
    }
    if (first)
        Put(Notice, NoticeLength);
    else
        Put(Again, AgainLength);
    errno = savedErrno;
}

// The terminal is gone: nothing to say, nobody to say it to.
void OnHangUp(int) {
    HangUps.fetch_add(1);
}
}  // namespace

StopSignals::StopSignals() : StopSignals(nullptr, nullptr) {}

StopSignals::StopSignals(const char* notice, const char* again) {
    Notice = notice;
    Again = again;
    NoticeLength = notice ? std::strlen(notice) : 0;
    AgainLength = again ? std::strlen(again) : 0;
    SignalsSeen = 0;
    HangUps = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : Caught) sigaddset(&action.sa_mask, s);  // one notice at a time
    action.sa_flags = SA_RESTART;
    for (int s : StopSignalNumbers) sigaction(s, &action, nullptr);
    action.sa_handler = OnHangUp;
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopSignals::Requested() const {
    return SignalsSeen != 0;
}

int StopSignals::Count() const {
    return SignalsSeen;
}

bool StopSignals::HungUp() const {
    return HangUps != 0;
}

void StopSignals::SetLineOpen(bool open) {
    OpenLine = open ? 1 : 0;
}

bool StopSignals::LineOpen() {
    return OpenLine != 0;
}

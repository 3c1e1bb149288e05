#include "cli/StopSignals.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<int> SignalsSeen{0};
std::atomic<int> HangUps{0};
std::atomic<int> OpenLine{0};
// Set before the handler goes in and left alone while it is in.
const char* Notice = nullptr;
const char* Again = nullptr;

void Put(const char* text) {
    DWORD written = 0;
    // Nothing to do about a failed write to stderr; the update goes on regardless.
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

// Runs on a thread of its own that Windows starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: {
            const bool first = SignalsSeen.fetch_add(1) == 0;
            if (Notice == nullptr) return TRUE;  // quiet: the command says it
            if (OpenLine.exchange(0) != 0) Put("\n");
            Put(first ? Notice : Again);
            return TRUE;
        }
        case CTRL_CLOSE_EVENT:
            // The console window is closing: as a hang-up and a stop at once, since Windows
            // ends the process a few seconds after this returns.
            HangUps.fetch_add(1);
            SignalsSeen.fetch_add(1);
            return TRUE;
        default:
            return FALSE;
    }
}
}  // namespace

StopSignals::StopSignals() : StopSignals(nullptr, nullptr) {}

StopSignals::StopSignals(const char* notice, const char* again) {
    Notice = notice;
    Again = again;
    SignalsSeen = 0;
    HangUps = 0;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
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

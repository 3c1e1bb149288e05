#pragma once
// How a programming run tells its window (or the command line) what happens.

#include <cstdint>
#include <string>

#include "link/Progress.h"

struct RunOutcome {
    bool Success = false;
    int32_t Code = -1;           // failure code; meaningless on success
    std::string Message;         // the failure's text as the user sees it
    bool DeviceTouched = false;  // the chip erase was sent: the device needs a good run
    std::string Chip;
    std::string EepromCopyPath;  // empty when the run never got that far
    std::string LogPath;
    int32_t ImageLength = 0;
    uint16_t CheckValue = 0;
    std::string FusesWritten;  // "lo=0xE2 hi=0x99"
    int Retries = 0;
    double Seconds = 0;
};

class IRunReport {
public:
    virtual ~IRunReport() = default;
    virtual void ClearLog() = 0;
    virtual void Log(const std::string& line) = 0;
    virtual void ChipIdentified(const std::string& name) = 0;
    // Before every block of a transfer and at its end; true asks the transfer to stop.
    virtual bool Progress(int32_t position, int32_t total, ProgressPhase phase) = 0;
    // The failure path: status in red with this text, bar back to its start, alert sound.
    virtual void Failed(const std::string& text) = 0;
    // The link is gone and the port closed.
    virtual void Ended(const RunOutcome& outcome) = 0;
};

#pragma once
// Serial port on POSIX termios: exclusive open, raw 115200 8N1, poll()-based reads
// with one monotonic deadline per read. Closing puts the line settings back as they were
// found, so a terminal or another program meets the port as it left it.

#include <termios.h>

#include <optional>
#include <string>

#include "link/SerialPort.h"

class PosixSerialPort : public ISerialPort {
public:
    // Writes that cannot move on for this long fail: the other side is gone.
    static constexpr int WriteStallMs = 2000;

    ~PosixSerialPort() override;
    bool Open(const std::string& name) override;
    bool IsOpen() const override { return Fd >= 0; }
    void Close() override;
    bool ConfigureLine() override;
    bool SetReadTimeouts(const ReadTimeouts& t) override;
    bool SetDtr(bool asserted) override;
    void PurgeReceive() override;
    void PurgeTransmit() override;
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override;
    bool Write(const uint8_t* src, std::size_t count) override;
    int LastError() const override { return Error; }
    std::string Path() const override { return DevicePath; }
    std::vector<std::string> KnownTroubles(bool accessExplained) const override;
    std::string AccessCure() const override;

private:
    bool Fail(int err);
    // Waits for 'events' until the monotonic deadline; 0 = timed out, 1 = ready, -1 = failed.
    int WaitFor(short events, long long deadlineMs);
    void RequestLowLatency();
    void RestoreSettings();

    int Fd = -1;
    int Error = 0;
    std::string DevicePath;
    ReadTimeouts Timeouts{1000, 1000, 1000};
    std::optional<termios> FoundLine;  // the settings at open
    std::optional<int> FoundFlags;     // the driver flags at open, when low latency changed them
};

#pragma once
// Serial port on the Win32 COMM API: exclusive open, 115200 8N1 without flow control, DTR
// and RTS off at open, synchronous ReadFile and WriteFile under COMMTIMEOUTS with one
// deadline per read. Reading built on WaitCommEvent would fail under Wine on a
// pseudo-terminal, whose modem-line calls the host refuses. Closing puts the line settings
// and time-outs back as they were found.

#include <windows.h>

#include <optional>
#include <string>

#include "link/SerialPort.h"

class Win32SerialPort : public ISerialPort {
public:
    // Writes that cannot move on for this long fail: the other side is gone.
    static constexpr DWORD WriteStallMs = 2000;

    ~Win32SerialPort() override;
    bool Open(const std::string& name) override;
    bool IsOpen() const override { return Handle != INVALID_HANDLE_VALUE; }
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

private:
    bool Fail(DWORD code);
    bool ApplyTimeouts(DWORD deadlineMs);

    HANDLE Handle = INVALID_HANDLE_VALUE;
    int Error = 0;
    std::string DevicePath;
    ReadTimeouts Timeouts{1000, 1000, 1000};
    std::optional<DCB> FoundLine;
    std::optional<COMMTIMEOUTS> FoundTimeouts;
};

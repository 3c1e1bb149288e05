#pragma once
// An in-process serial port wired to a BoxModel, for unit tests: no pty, no waits.
// It records every byte the link writes, and can be told to fail.

#include <cerrno>
#include <string>
#include <vector>

#include "link/SerialPort.h"
#include "sim/BoxModel.h"

class SimPort : public ISerialPort {
public:
    explicit SimPort(BoxModel& box) : Box(box) {}

    bool Open(const std::string& name) override;
    bool IsOpen() const override { return Opened; }
    void Close() override { Opened = false; }
    bool ConfigureLine() override { return true; }
    bool SetReadTimeouts(const ReadTimeouts&) override { return true; }
    bool SetDtr(bool asserted) override;
    void PurgeReceive() override { Box.Output.clear(); }
    void PurgeTransmit() override {}
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override;
    bool Write(const uint8_t* src, std::size_t count) override;
    int LastError() const override { return Error; }
    std::string Path() const override { return "/dev/" + Name; }

    // Scripted failures.
    int OpenErrno = 0;              // Open fails with this errno when not 0
    int DtrErrno = 0;               // SetDtr fails with this errno when not 0
    long long FailWriteAfter = -1;  // writes fail (EIO) once this many bytes went out
    long long FailReadAfter = -1;   // reads fail (EIO) once this many bytes came in

    std::vector<uint8_t> Written;         // everything the link sent, in order
    std::vector<std::size_t> WriteSizes;  // bytes per write call
    long long BytesRead = 0;
    int CloseCount = 0;

private:
    BoxModel& Box;
    bool Opened = false;
    int Error = 0;
    std::string Name;
};

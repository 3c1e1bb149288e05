#pragma once
// A serial port that counts the link's calls on the way through: every read is one wait
// for the box (an echo or a reply), every write one hand-over to the line. It keeps what the
// link wrote, to tell which writes the chip had to carry out.

#include <memory>
#include <utility>
#include <vector>

#include "link/SerialPort.h"

class CountingPort : public ISerialPort {
public:
    explicit CountingPort(std::unique_ptr<ISerialPort> inner) : Inner(std::move(inner)) {}

    bool Open(const std::string& name) override { return Inner->Open(name); }
    bool IsOpen() const override { return Inner->IsOpen(); }
    void Close() override { Inner->Close(); }
    bool ConfigureLine() override { return Inner->ConfigureLine(); }
    bool SetReadTimeouts(const ReadTimeouts& t) override { return Inner->SetReadTimeouts(t); }
    bool SetDtr(bool asserted) override { return Inner->SetDtr(asserted); }
    void PurgeReceive() override { Inner->PurgeReceive(); }
    void PurgeTransmit() override { Inner->PurgeTransmit(); }
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        ++Reads;
        return Inner->Read(dest, count, received);
    }
    bool Write(const uint8_t* src, std::size_t count) override {
        ++Writes;
        Written.insert(Written.end(), src, src + count);
        return Inner->Write(src, count);
    }
    int LastError() const override { return Inner->LastError(); }
    std::string Path() const override { return Inner->Path(); }

    long long Reads = 0;
    long long Writes = 0;
    std::vector<uint8_t> Written;

private:
    std::unique_ptr<ISerialPort> Inner;
};

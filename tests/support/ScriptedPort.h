#pragma once
// A serial port whose answers are queued by the test: records what the link writes,
// and can fail writes or reads, or run dry (which the link sees as a time-out).

#include <cerrno>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/SerialPort.h"

class ScriptedPort : public ISerialPort {
public:
    void Queue(std::initializer_list<uint8_t> bytes) { Replies.insert(Replies.end(), bytes); }
    void Queue(const std::vector<uint8_t>& bytes) {
        Replies.insert(Replies.end(), bytes.begin(), bytes.end());
    }

    bool Open(const std::string& name) override {
        Name = name;
        if (OpenErrno) return Fail(OpenErrno);
        Opened = true;
        return true;
    }
    bool IsOpen() const override { return Opened; }
    void Close() override {
        Opened = false;
        ++Closes;
    }
    bool ConfigureLine() override { return true; }
    bool SetReadTimeouts(const ReadTimeouts& t) override {
        Timeouts = t;
        return true;
    }
    bool SetDtr(bool asserted) override {
        DtrChanges.push_back(asserted);
        return DtrErrno ? Fail(DtrErrno) : true;
    }
    void PurgeReceive() override { ++Purges; }
    void PurgeTransmit() override { ++Purges; }
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        received = 0;
        if (ReadErrno) return Fail(ReadErrno);
        while (received < count && !Replies.empty()) {
            dest[received++] = Replies.front();
            Replies.pop_front();
        }
        return true;
    }
    bool Write(const uint8_t* src, std::size_t count) override {
        if (WriteErrno) return Fail(WriteErrno);
        Written.insert(Written.end(), src, src + count);
        return true;
    }
    int LastError() const override { return Error; }
    std::string Path() const override { return "/dev/" + Name; }
    std::string AccessCure() const override { return Cure; }

    std::deque<uint8_t> Replies;
    std::vector<uint8_t> Written;
    std::vector<bool> DtrChanges;
    ReadTimeouts Timeouts{-1, -1, -1};  // as the link last set them
    int Purges = 0, Closes = 0;
    int OpenErrno = 0, DtrErrno = 0, ReadErrno = 0, WriteErrno = 0;
    std::string Cure;  // what the port doctor would say about the user's rights on it

private:
    bool Fail(int e) {
        Error = e;
        return false;
    }
    bool Opened = false;
    int Error = 0;
    std::string Name;
};

#pragma once
// Hands out links to one in-process box, the way each user action makes its own link.
// What every link wrote is kept here, since the ports go with their links.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "programming/LinkFactory.h"
#include "sim/BoxModel.h"
#include "sim/SimPort.h"

struct BoxFactory {
    explicit BoxFactory(const BoxConfig& config = {}) : Box(config) {}

    LinkFactory Factory() {
        return [this] {
            auto port = std::make_unique<RecordingPort>(Box, Written, *this);
            port->OpenErrno = OpenErrno;
            port->FailReadAfter = FailReadAfter;
            ++LinksMade;
            return std::make_unique<TIspLink>(std::move(port), Clock);
        };
    }

    BoxModel Box;
    FakeClock Clock;
    int OpenErrno = 0;
    // The box's adapter pulled out: from now on every write fails, as on a vanished port.
    bool Unplugged = false;
    long long FailReadAfter = -1;  // each port's reads fail (EIO) after this many bytes
    // A fault inside the program while it talks to the box (memory gone, a library's
    // exception): the write that would take all links' bytes past this many throws instead.
    long long FaultAfter = -1;
    int LinksMade = 0;
    std::vector<uint8_t> Written;  // the bytes of every link made, in order
    // What the ports report as the system's troubles with them, and how often they were
    // asked, with or without the access cure already named.
    std::vector<std::string> Troubles;
    std::vector<bool> TroublesAsked;
    std::string Cure;  // what the port doctor says about the user's rights on the ports

private:
    struct RecordingPort : SimPort {
        RecordingPort(BoxModel& box, std::vector<uint8_t>& sink, BoxFactory& owner)
            : SimPort(box), Sink(sink), Owner(owner) {}
        bool Write(const uint8_t* src, std::size_t count) override {
            if (Owner.Unplugged) FailWriteAfter = 0;
            if (Owner.FaultAfter >= 0 &&
                Sink.size() + count > static_cast<std::size_t>(Owner.FaultAfter))
                throw std::runtime_error("injected fault");
            const bool ok = SimPort::Write(src, count);
            if (ok) Sink.insert(Sink.end(), src, src + count);
            return ok;
        }
        std::vector<std::string> KnownTroubles(bool accessExplained) const override {
            Owner.TroublesAsked.push_back(accessExplained);
            return Owner.Troubles;
        }
        std::string AccessCure() const override { return Owner.Cure; }
        std::vector<uint8_t>& Sink;
        BoxFactory& Owner;
    };
};

#pragma once
// Hands out links to one in-process box, the way each user action makes its own link.

#include <memory>

#include "programming/LinkFactory.h"
#include "sim/BoxModel.h"
#include "sim/SimPort.h"

struct BoxFactory {
    explicit BoxFactory(const BoxConfig& config = {}) : Box(config) {}

    LinkFactory Factory() {
        return [this] {
            auto port = std::make_unique<SimPort>(Box);
            port->OpenErrno = OpenErrno;
            LastPort = port.get();
            ++LinksMade;
            return std::make_unique<TIspLink>(std::move(port), Clock);
        };
    }

    BoxModel Box;
    FakeClock Clock;
    int OpenErrno = 0;
    SimPort* LastPort = nullptr;  // valid while its link lives
    int LinksMade = 0;
};

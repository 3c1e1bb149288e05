#pragma once
// A real TIspLink talking to the in-process box, with waits recorded instead of slept.

#include <memory>

#include "link/IspLink.h"
#include "sim/BoxModel.h"
#include "sim/SimPort.h"

struct LinkOnBox {
    explicit LinkOnBox(const BoxConfig& config = {}) : Box(config) {
        auto owned = std::make_unique<SimPort>(Box);
        Port = owned.get();
        Link = std::make_unique<TIspLink>(std::move(owned), Clock);
    }

    // Open, reset, port time 100, programming mode, signature: what every transfer needs.
    void Identify() {
        Link->OpenPort("ttySIM0");
        Link->ResetProgrammer();
        Link->SetPortTime(100);
        Link->EnableProgMode();
        Link->ReadChipType();
    }

    BoxModel Box;
    FakeClock Clock;
    SimPort* Port;  // owned by Link
    std::unique_ptr<TIspLink> Link;
};

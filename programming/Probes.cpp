#include "programming/Probes.h"

namespace {
template <typename Body>
ProbeResult RunProbe(const std::string& portName, const LinkFactory& makeLink, Body body) {
    ProbeResult r;
    try {
        // The link lives only for this call; its destruction closes the port.
        std::unique_ptr<TIspLink> link = makeLink();
        link->OpenPort(portName);
        link->ResetProgrammer();
        r.Text = body(*link);
        r.Ok = true;
    } catch (const EProgError& e) {
        r.Ok = false;
        r.Error = e;
        r.Text = GetErrorText(e.Code);
    }
    return r;
}
}  // namespace

LinkFactory SystemLinkFactory() {
    return [] { return std::make_unique<TIspLink>(); };
}

ProbeResult CheckProgrammer(const std::string& portName, const LinkFactory& makeLink) {
    return RunProbe(portName, makeLink, [](TIspLink& link) { return link.ReadVersion(); });
}

ProbeResult QueryChipType(const std::string& portName, const LinkFactory& makeLink) {
    return RunProbe(portName, makeLink, [](TIspLink& link) {
        link.SetPortTime(100);
        link.EnableProgMode();
        std::string name = link.ReadChipType();
        link.DisableProgMode();
        return name;
    });
}

#include "programming/Probes.h"

#include "programming/OpenAndIdentify.h"

namespace {
void AddDetailLine(EProgError& e, const std::string& line) {
    e.Detail += (e.Detail.empty() ? "" : "\n") + line;
}

template <typename Body>
ProbeResult RunProbe(const std::string& portName, const LinkFactory& makeLink, bool explain,
                     Body body) {
    ProbeResult r;
    // The link lives only for this call; its destruction closes the port.
    std::unique_ptr<TIspLink> link = makeLink();
    try {
        r.Text = body(*link, portName);
        r.Ok = true;
    } catch (const EProgError& e) {
        r.Ok = false;
        r.Error = e;
        r.Text = GetErrorText(e.Code);
        if (explain)
            for (const std::string& line : link->ExplainFailure(e)) AddDetailLine(r.Error, line);
    }
    return r;
}

std::string ReadVersion(TIspLink& link, const std::string& portName) {
    link.OpenPort(portName);
    link.ResetProgrammer();
    return link.ReadVersion();
}
}  // namespace

LinkFactory SystemLinkFactory() {
    return [] { return std::make_unique<TIspLink>(); };
}

ProbeResult CheckProgrammer(const std::string& portName, const LinkFactory& makeLink) {
    return RunProbe(portName, makeLink, true, ReadVersion);
}

ProbeResult QueryChipType(const std::string& portName, const LinkFactory& makeLink, bool explain) {
    return RunProbe(portName, makeLink, explain, [](TIspLink& link, const std::string& port) {
        std::string name = OpenAndIdentify(link, port);
        link.DisableProgMode();
        return name;
    });
}

// The other checks have named the port's troubles already; only the link's own detail.
PortFinding ProgrammerAnswers(const std::string& portName, const LinkFactory& makeLink) {
    const ProbeResult r = RunProbe(portName, makeLink, false, ReadVersion);
    if (r.Ok) return {"programmer", Verdict::Ok, r.Text};
    return {"programmer", Verdict::Problem,
            r.Error.Detail.empty() ? r.Text : r.Text + "\n" + r.Error.Detail};
}

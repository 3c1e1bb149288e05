#include "link/PortDoctor.h"

#include <unistd.h>

const char* VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Problem:
            return "PROBLEM";
        case Verdict::Note:
            return "note";
    }
    return "?";
}

DoctorSystem ThisMachine() {
    return {"", static_cast<int>(getpid()), &ListSerialPorts};
}

std::vector<PortFinding> ExaminePort(const std::string& port, const DoctorSystem& sys) {
    const PortFacts facts = GatherPortFacts(port, sys);
    return {CheckDevice(facts, sys), CheckAccess(facts, sys), CheckHolders(facts, sys),
            CheckModemManager(facts, sys), CheckBrltty(facts, sys)};
}

std::vector<std::string> PortTroubles(const std::string& port, const DoctorSystem& sys,
                                      bool accessExplained) {
    std::vector<std::string> troubles;
    for (const PortFinding& f : ExaminePort(port, sys))
        if (f.Result == Verdict::Problem && !(accessExplained && f.Check == "access"))
            troubles.push_back(f.Text);
    return troubles;
}

std::string AccessCure(const std::string& port, const DoctorSystem& sys) {
    const PortFinding f = CheckAccess(GatherPortFacts(port, sys), sys);
    return f.Result == Verdict::Problem ? f.Text : std::string();
}

#pragma once
// The port doctor: the usual reasons on Linux why a serial port cannot be opened or a box
// on it stays silent, each checked on its own: the device itself, the user's rights on it,
// other programs holding it, ModemManager and brltty.

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "link/PortList.h"

enum class Verdict { Ok, Problem, Note };

struct PortFinding {
    std::string Check;  // "device", "access", ...
    Verdict Result = Verdict::Ok;
    std::string Text;  // one or two sentences; a problem names its cure
};

// "ok", "PROBLEM", "note"
const char* VerdictText(Verdict v);

// Where the doctor looks. This machine: Root empty. Tests: a folder with proc/, sys/, dev/,
// etc/ and usr/ below it.
struct DoctorSystem {
    std::string Root;
    int SelfPid = 0;  // this process, never counted as holding the port
    std::function<std::vector<SerialPortInfo>()> ListPorts;  // the ports a missing one may be
};

DoctorSystem ThisMachine();

// What the checks need to know about the port, gathered once.
struct PortFacts {
    std::string Given;   // the path as given: /dev/ttyUSB0 or a /dev/serial/by-id link
    std::string Device;  // the device node it leads to (without Root): /dev/ttyUSB0
    std::string Name;    // ttyUSB0
    bool Exists = false;
    struct stat Stat {};
    bool Usb = false;     // a USB adapter, or named like one when it is missing
    bool Pseudo = false;  // a pseudo-terminal: a program at its other end holds it by design
    // It exists but is no serial port: a regular file, a folder, or a device of another kind
    // (/dev/null, /dev/tty, /dev/ptmx, a console). Nothing of it is worth opening.
    bool NotSerial = false;
};

// 'port' as a user types it: ttyUSB0, or a path.
PortFacts GatherPortFacts(const std::string& port, const DoctorSystem& sys);

PortFinding CheckDevice(const PortFacts& port, const DoctorSystem& sys);
PortFinding CheckAccess(const PortFacts& port, const DoctorSystem& sys);
PortFinding CheckHolders(const PortFacts& port, const DoctorSystem& sys);
PortFinding CheckModemManager(const PortFacts& port, const DoctorSystem& sys);
PortFinding CheckBrltty(const PortFacts& port, const DoctorSystem& sys);

// Every check, in the order above.
std::vector<PortFinding> ExaminePort(const std::string& port, const DoctorSystem& sys);

// The access check's cure for a port the user may not read and write; empty when it finds
// nothing wrong. What the link adds to an open refused for missing rights.
std::string AccessCure(const std::string& port, const DoctorSystem& sys);

// The problems found, one text each, to explain a failure. accessExplained leaves out
// the access check when the failure names that cure already.
std::vector<std::string> PortTroubles(const std::string& port, const DoctorSystem& sys,
                                      bool accessExplained);

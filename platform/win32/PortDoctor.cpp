// The port doctor on Windows: whether the port exists (and which ports do), whether another
// program holds it, and whether its driver reports a problem. Windows does not tell which
// process holds a COM port without a kernel handle listing, so the doctor says it is held
// and names the usual holders.
#include "link/PortDoctor.h"

#include <windows.h>
// After windows.h: SetupAPI's headers need its types.
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include "link/OsErrorText.h"
#include "link/SerialPort.h"
#include "platform/win32/WideText.h"

namespace {
bool SameName(const std::string& a, const std::string& b) {
    return CompareStringOrdinal(Widen(a).c_str(), -1, Widen(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string PortNameOf(const std::string& given) {
    const std::string path = SerialDevicePath(given);
    return path.substr(path.rfind('\\') + 1);
}

// Problem code of the port's device from the configuration manager; 0 when none or unknown.
ULONG DeviceProblem(const std::string& name) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return 0;
    ULONG problem = 0;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t value[64] = {};
        DWORD size = sizeof value - 2;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!named || !SameName(Narrow(value), name)) continue;
        ULONG status = 0;
        if (CM_Get_DevNode_Status(&status, &problem, dev.DevInst, 0) != CR_SUCCESS) problem = 0;
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return problem;
}

bool Listed(const std::string& name, const DoctorSystem& sys) {
    if (!sys.ListPorts) return false;
    for (const SerialPortInfo& p : sys.ListPorts())
        if (SameName(p.Name, name)) return true;
    return false;
}

std::string KnownPorts(const DoctorSystem& sys) {
    std::string names;
    if (sys.ListPorts)
        for (const SerialPortInfo& p : sys.ListPorts())
            names += (names.empty() ? "" : ", ") + p.Name;
    return names.empty() ? "none" : names;
}

// Tries the port once, without changing anything of it; 0 when it opens.
DWORD TryOpen(const std::string& given) {
    HANDLE h = CreateFileW(Widen(SerialDevicePath(given)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
}

PortFinding Device(const std::string& given, const DoctorSystem& sys) {
    const std::string name = PortNameOf(given);
    if (Listed(name, sys)) return {"device", Verdict::Ok, name + " exists"};
    return {"device", Verdict::Problem,
            name + " does not exist. Ports on this machine: " + KnownPorts(sys) +
                ". A USB adapter gets its number when plugged in: see the Device Manager"};
}

PortFinding Holders(const std::string& given) {
    const DWORD code = TryOpen(given);
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
        return {"holders", Verdict::Problem,
                PortNameOf(given) +
                    " is held by another program (a terminal program, another updater or a "
                    "modem tool): close it"};
    if (code == 0 || code == ERROR_FILE_NOT_FOUND)
        return {"holders", Verdict::Ok, "no other program holds " + PortNameOf(given)};
    return {"holders", Verdict::Note,
            PortNameOf(given) + " cannot be opened: " + OsErrorText(ErrnoFromWin32(code))};
}

PortFinding Driver(const std::string& given) {
    const ULONG problem = DeviceProblem(PortNameOf(given));
    if (problem == 0) return {"driver", Verdict::Ok, "the driver reports no problem"};
    return {"driver", Verdict::Problem,
            "the driver of " + PortNameOf(given) + " reports problem code " +
                std::to_string(problem) + ": see the device in the Device Manager"};
}
}  // namespace

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
    return {"", static_cast<int>(GetCurrentProcessId()), &ListSerialPorts};
}

PortFacts GatherPortFacts(const std::string& port, const DoctorSystem& sys) {
    PortFacts facts;
    facts.Given = port;
    facts.Device = SerialDevicePath(port);
    facts.Name = PortNameOf(port);
    facts.Exists = Listed(facts.Name, sys);
    return facts;
}

std::vector<PortFinding> ExaminePort(const std::string& port, const DoctorSystem& sys) {
    return {Device(port, sys), Holders(port), Driver(port)};
}

std::vector<std::string> PortTroubles(const std::string& port, const DoctorSystem& sys,
                                      bool accessExplained) {
    (void)accessExplained;  // Windows gives every user the COM ports
    std::vector<std::string> troubles;
    for (const PortFinding& f : ExaminePort(port, sys))
        if (f.Result == Verdict::Problem) troubles.push_back(f.Text);
    return troubles;
}

std::string AccessCure(const std::string&, const DoctorSystem&) {
    return {};
}

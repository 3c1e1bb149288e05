// The port doctor's checks. Each reads what it needs below DoctorSystem::Root and says
// ok, what is wrong and its cure, or a note that matters only in other cases.
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "link/PortDoctor.h"
#include "link/PosixSerialPort.h"
#include "link/ProcessTable.h"
#include "link/UserAccount.h"

namespace {
bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? std::string(real) : std::string();
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string Proc(const DoctorSystem& sys) {
    return sys.Root + "/proc";
}

std::string JoinProcesses(const std::vector<ProcessRef>& processes) {
    std::string text;
    for (const ProcessRef& p : processes) text += (text.empty() ? "" : ", ") + ProcessText(p);
    return text;
}

// By where the kernel put it; a missing port by the name USB adapters get.
bool LooksUsb(const PortFacts& f, const DoctorSystem& sys) {
    const std::string device = RealPath(sys.Root + "/sys/class/tty/" + f.Name + "/device");
    if (!device.empty()) return device.find("/usb") != std::string::npos;
    return StartsWith(f.Name, "ttyUSB") || StartsWith(f.Name, "ttyACM") ||
           f.Given.find("/by-id/usb-") != std::string::npos;
}

std::string PortsHere(const DoctorSystem& sys) {
    if (!sys.ListPorts) return {};
    std::string names;
    for (const SerialPortInfo& p : sys.ListPorts()) names += (names.empty() ? "" : ", ") + p.Name;
    return names.empty() ? " This machine shows no serial port."
                         : " Serial ports of this machine: " + names + ".";
}

std::string Describe(const PortFacts& f, const DoctorSystem& sys) {
    if (!sys.ListPorts) return {};
    for (const SerialPortInfo& p : sys.ListPorts())
        if (p.Node == f.Device) return ": " + PortDetails(p);
    return {};
}

PortFinding NotChecked(const char* check, const PortFacts& f) {
    return {check, Verdict::Note, "not checked: " + f.Given + " does not exist."};
}

std::string GroupText(const DoctorSystem& sys, unsigned gid) {
    const std::string name = GroupName(sys.Root + "/etc/group", gid);
    return name.empty() ? std::to_string(gid) : name;
}
}  // namespace

PortFacts GatherPortFacts(const std::string& port, const DoctorSystem& sys) {
    PortFacts f;
    f.Given = SerialDevicePath(port);
    f.Device = f.Given;
    const std::string root = sys.Root.empty() ? std::string() : RealPath(sys.Root);
    const std::string real = RealPath(sys.Root + f.Given);
    if (!real.empty() && StartsWith(real, root)) f.Device = real.substr(root.size());
    f.Name = BaseName(f.Device);
    f.Exists = stat((sys.Root + f.Device).c_str(), &f.Stat) == 0;
    f.Pseudo = StartsWith(f.Device, "/dev/pts/");
    f.Usb = LooksUsb(f, sys);
    return f;
}

PortFinding CheckDevice(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "device";
    if (!f.Exists) return {check, Verdict::Problem, f.Given + " does not exist." + PortsHere(sys)};
    if (!S_ISCHR(f.Stat.st_mode))
        return {check, Verdict::Problem, f.Given + " is not a serial device."};
    std::string text = f.Given == f.Device ? f.Device : f.Given + " leads to " + f.Device;
    return {check, Verdict::Ok, text + Describe(f, sys)};
}

PortFinding CheckAccess(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "access";
    if (!f.Exists) return NotChecked(check, f);
    const UserFacts user = ReadUserFacts(Proc(sys) + "/" + std::to_string(sys.SelfPid) + "/status",
                                         sys.Root + "/etc/passwd");
    const mode_t mode = f.Stat.st_mode;
    const unsigned gid = f.Stat.st_gid;
    const bool groupMay = (mode & 060) == 060;
    const bool inGroup = std::count(user.Groups.begin(), user.Groups.end(), gid) > 0;
    if (user.Uid == 0) return {check, Verdict::Ok, "root may open every port."};
    if (user.Uid == f.Stat.st_uid && (mode & 0600) == 0600)
        return {check, Verdict::Ok, "you own " + f.Device + "."};
    const std::string group = GroupText(sys, gid);
    if (inGroup && groupMay)
        return {check, Verdict::Ok,
                "you are in the group " + group + ", which may read and write " + f.Device + "."};
    if ((mode & 006) == 006)
        return {check, Verdict::Ok, "everyone may read and write " + f.Device + "."};
    if (!groupMay) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
        return {check, Verdict::Problem,
                f.Device + " may be used by its owner only (mode " + octal +
                    "): ask the administrator for a udev rule giving it to the group dialout."};
    }
    if (GroupListsUser(sys.Root + "/etc/group", gid, user.Name))
        return {check, Verdict::Problem,
                "You were added to the group " + group +
                    " after this session began: log out and in again."};
    const std::string who = user.Name.empty() ? "$USER" : user.Name;
    return {check, Verdict::Problem,
            f.Device + " belongs to the group " + group +
                " and you are not in it: sudo usermod -aG " + group + " " + who +
                ", then log out and in again."};
}

PortFinding CheckHolders(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "holders";
    if (!f.Exists) return NotChecked(check, f);
    const OpenFileScan scan = ProcessesWithOpen(Proc(sys), f.Device, sys.SelfPid);
    std::vector<ProcessRef> holding;
    for (int pid : LockHolders(Proc(sys) + "/locks", major(f.Stat.st_dev), minor(f.Stat.st_dev),
                               f.Stat.st_ino, sys.SelfPid))
        holding.push_back({pid, ProcessName(Proc(sys), pid)});
    // The program at a pseudo-terminal's other end holds it open; only a lock keeps us out.
    if (!f.Pseudo)
        for (const ProcessRef& p : scan.Holders)
            if (std::none_of(holding.begin(), holding.end(),
                             [&](const ProcessRef& h) { return h.Pid == p.Pid; }))
                holding.push_back(p);
    if (!holding.empty())
        return {check, Verdict::Problem,
                f.Device + " is held by " + JoinProcesses(holding) +
                    ": end that program, then try again."};
    if (f.Pseudo && !scan.Holders.empty())
        return {check, Verdict::Note,
                f.Device + " is a pseudo-terminal; " + JoinProcesses(scan.Holders) +
                    " holds its other end."};
    if (!scan.AllSeen)
        return {check, Verdict::Ok,
                "no program of yours holds " + f.Device +
                    "; other users' programs are hidden from you (sudo fuser -v " + f.Device +
                    " shows them)."};
    return {check, Verdict::Ok, "no other program holds " + f.Device + "."};
}

PortFinding CheckModemManager(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "ModemManager";
    const std::vector<ProcessRef> running = ProcessesNamed(Proc(sys), "ModemManager");
    if (running.empty()) return {check, Verdict::Ok, "not running."};
    if (!f.Usb)
        return {
            check, Verdict::Note,
            "running (" + JoinProcesses(running) + "); it leaves ports that are not USB alone."};
    return {check, Verdict::Problem,
            "ModemManager is running (" + JoinProcesses(running) +
                "): it probes new USB serial ports by writing to them, which upsets the "
                "programmer box. Stop it while programming: sudo systemctl stop ModemManager."};
}

PortFinding CheckBrltty(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "brltty";
    const bool installed = Exists(sys.Root + "/usr/bin/brltty") ||
                           Exists(sys.Root + "/bin/brltty") ||
                           Exists(sys.Root + "/usr/sbin/brltty");
    if (!installed) return {check, Verdict::Ok, "not installed."};
    if (!f.Usb) return {check, Verdict::Note, "installed; it claims USB adapters only."};
    return {check, Verdict::Problem,
            "brltty is installed: it takes common USB serial adapters (CH340, CP210x, FTDI) for "
            "braille displays, so their ttyUSB port vanishes right after plugging in. Without a "
            "braille display: sudo apt remove brltty."};
}

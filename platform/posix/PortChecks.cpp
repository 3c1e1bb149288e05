// The port doctor's checks. Each reads what it needs below DoctorSystem::Root and says
// ok, what is wrong and its cure, or a note that matters only in other cases.
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "link/PortDoctor.h"
#include "link/ProcessTable.h"
#include "link/UserAccount.h"
#include "platform/posix/PosixSerialPort.h"

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

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Device numbers that are never a serial port: the memory devices (/dev/null, /dev/zero,
// /dev/random), /dev/tty, /dev/console and /dev/ptmx, and the virtual consoles tty0 to tty63.
constexpr unsigned MemoryMajor = 1, TtyMajor = 4, TtyAuxMajor = 5, FirstSerialMinorOfTty = 64;

// A character device is a serial port when it is a pseudo-terminal (a simulator or a network
// bridge at its other end) or a tty with a device behind it, as sysfs tells.
bool IsSerialDevice(const PortFacts& f, const DoctorSystem& sys) {
    if (f.Pseudo) return true;
    const unsigned ma = major(f.Stat.st_rdev), mi = minor(f.Stat.st_rdev);
    if (ma == MemoryMajor || ma == TtyAuxMajor || (ma == TtyMajor && mi < FirstSerialMinorOfTty))
        return false;
    const std::string ttys = sys.Root + "/sys/class/tty";
    if (!Exists(ttys)) return true;  // no sysfs to ask: the device numbers have to do
    return Exists(ttys + "/" + f.Name + "/device");
}

// The port as the user named it, and where that leads.
std::string Named(const PortFacts& f) {
    return f.Given == f.Device ? f.Device : f.Given + " leads to " + f.Device;
}

bool IsOurOwnRun(const ProcessRef& p) {
    return p.Name == "q40prog-cli" || p.Name == "Q40Prog" || p.Name == "q40prog";
}

constexpr const char* UdevRuleFile = "/etc/udev/rules.d/70-q40prog-serial.rules";

// The group serial ports are given to: dialout, or uucp where the system calls it so.
std::string SerialGroup(const DoctorSystem& sys, unsigned& gid, bool& known) {
    const std::string groupFile = sys.Root + "/etc/group";
    for (const char* name : {"dialout", "uucp"})
        if (FindGroupId(groupFile, name, gid)) {
            known = true;
            return name;
        }
    known = false;
    return "dialout";
}

// A udev rule line that gives the port to 'group': a USB adapter by its vendor and product
// (so the rule holds on any socket), any other port by its name.
std::string UdevRule(const PortFacts& f, const DoctorSystem& sys, const std::string& group) {
    std::string match = "KERNEL==\"" + f.Name + "\"";
    if (sys.ListPorts)
        for (const SerialPortInfo& p : sys.ListPorts())
            if (p.Node == f.Device && !p.VendorId.empty() && !p.ProductId.empty())
                match = "ATTRS{idVendor}==\"" + p.VendorId + "\", ATTRS{idProduct}==\"" +
                        p.ProductId + "\"";
    return "SUBSYSTEM==\"tty\", " + match + ", GROUP=\"" + group + "\", MODE=\"0660\"";
}

// For a port no group of the user's may be given: only the administrator can change whom it
// belongs to. The rule comes last on its line, so that it can be copied as it stands.
std::string UdevCure(const PortFacts& f, const DoctorSystem& sys, const UserFacts& user) {
    unsigned gid = 0;
    bool known = false;
    const std::string group = SerialGroup(sys, gid, known);
    const bool member = known && std::count(user.Groups.begin(), user.Groups.end(), gid) > 0;
    return "ask the administrator for a udev rule giving it to the group " + group +
           (member ? "" : ", and to add you to that group") + ". The rule, as a line of " +
           UdevRuleFile + ": " + UdevRule(f, sys, group);
}

std::string ModeText(mode_t mode) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    return octal;
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
    f.Pseudo = StartsWith(f.Device, "/dev/pts/") && AllDigits(f.Name);  // not /dev/pts/ptmx
    f.Usb = LooksUsb(f, sys);
    f.NotSerial = f.Exists && (!S_ISCHR(f.Stat.st_mode) || !IsSerialDevice(f, sys));
    return f;
}

PortFinding CheckDevice(const PortFacts& f, const DoctorSystem& sys) {
    const char* check = "device";
    if (!f.Exists) return {check, Verdict::Problem, f.Given + " does not exist." + PortsHere(sys)};
    if (!S_ISCHR(f.Stat.st_mode))
        return {check, Verdict::Problem, f.Given + " is not a serial device."};
    if (f.NotSerial)
        return {check, Verdict::Problem,
                Named(f) + " is a device, but not a serial port: name the port the programmer " +
                    "box is on." + PortsHere(sys)};
    return {check, Verdict::Ok, Named(f) + Describe(f, sys)};
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
    // Joining the port's group helps only where that group may read and write it, and the
    // group root is never one to join: it opens far more than a port.
    if (f.Pseudo && !groupMay)
        return {check, Verdict::Problem,
                f.Device + " is a pseudo-terminal that only its owner may use (mode " +
                    ModeText(mode) + "): start the program at its other end as your own user."};
    if (!groupMay)
        return {check, Verdict::Problem,
                f.Device + " may be read and written by its owner only (mode " + ModeText(mode) +
                    "): " + UdevCure(f, sys, user)};
    if (gid == 0)
        return {check, Verdict::Problem,
                f.Device + " belongs to the group root, which is no group to join for a port: " +
                    UdevCure(f, sys, user)};
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
    // /dev/null and its kind are open in many programs, none of which is in the way.
    if (f.NotSerial && S_ISCHR(f.Stat.st_mode))
        return {check, Verdict::Note, "not checked: " + f.Given + " is not a serial port."};
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
    // An update of ours must never be ended mid-erase; any other program may be.
    std::vector<ProcessRef> ours, others;
    for (const ProcessRef& p : holding) (IsOurOwnRun(p) ? ours : others).push_back(p);
    std::string held;
    if (!others.empty())
        held = f.Device + " is held by " + JoinProcesses(others) +
               ": end that program, then try again.";
    if (!ours.empty())
        held += (held.empty() ? f.Device + " is held by " : std::string(" It is also held by ")) +
                JoinProcesses(ours) + ", updating a device on this port: wait for it to end.";
    if (!held.empty()) return {check, Verdict::Problem, held};
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

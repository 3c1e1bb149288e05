// The port doctor's checks on a made-up machine: a folder with proc/, sys/, dev/, etc/ and
// usr/ below it, holding just what each case needs.
#include "link/PortDoctor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {
constexpr int SelfPid = 1;
constexpr char UsbDevice[] = "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/";
constexpr char BoardDevice[] = "devices/pnp0/00:01/";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct FakeMachine : testing::Test {
    void SetUp() override {
        for (const char* folder : {"proc", "dev/pts", "etc", "sys/class/tty", "usr/bin"})
            fs::create_directories(Root.File(folder));
        Write("proc/locks", "");
        Sys.Root = Root.Path;
        Sys.SelfPid = SelfPid;
        Sys.ListPorts = [this] { return Ports; };
        RunAs(1000, {1000});
    }

    void Write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(Root.File(path)).parent_path());
        std::ofstream(Root.File(path)) << text;
    }

    // This process's identity as /proc shows it, and the account files.
    void RunAs(unsigned uid, const std::vector<unsigned>& groups) {
        std::string list;
        for (unsigned g : groups) list += std::to_string(g) + " ";
        Write("proc/1/status", "Name:\tq40prog-cli\nUid:\t" + std::to_string(uid) + "\t" +
                                   std::to_string(uid) + "\t0\t0\nGid:\t" +
                                   std::to_string(groups.empty() ? 0 : groups[0]) +
                                   "\t0\t0\t0\nGroups:\t" + list + "\n");
        Write("proc/1/comm", "q40prog-cli\n");
        Write("etc/passwd",
              "root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n"
              "bob:x:1001:1001::/home/bob:/bin/sh\n");
    }

    // A device node when this machine lets us make one, else a plain file (device check aside,
    // the checks only look at owner, group and mode).
    void Node(const std::string& path, mode_t mode = 0660) {
        const std::string full = Root.File(path);
        fs::create_directories(fs::path(full).parent_path());
        if (mknod(full.c_str(), S_IFCHR | mode, makedev(1, 3)) != 0) std::ofstream(full).close();
        chmod(full.c_str(), mode);
        if (geteuid() == 0) {
            EXPECT_EQ(chown(full.c_str(), 1000, 20), 0);
        }
    }

    bool IsCharDevice(const std::string& path) {
        struct stat st {};
        return stat(Root.File(path).c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    }

    void Port(const std::string& name, const char* device) {
        Node("dev/" + name);
        fs::create_directories(Root.File("sys/" + std::string(device) + name));
        fs::create_directories(Root.File("sys/class/tty/" + name));
        fs::create_symlink("../../../../sys/" + std::string(device) + name,
                           Root.File("sys/class/tty/" + name + "/device"));
    }

    void Process(int pid, const std::string& name, const std::vector<std::string>& open = {}) {
        const std::string dir = "proc/" + std::to_string(pid);
        Write(dir + "/comm", name + "\n");
        fs::create_directories(Root.File(dir + "/fd"));
        int fd = 3;
        for (const std::string& target : open)
            fs::create_symlink(target, Root.File(dir + "/fd/" + std::to_string(fd++)));
    }

    // A lock table line for the file as the kernel writes it.
    std::string LockLine(int id, int pid, const std::string& path, bool waiting = false) {
        struct stat st {};
        EXPECT_EQ(stat(Root.File(path).c_str(), &st), 0);
        char line[160];
        std::snprintf(line, sizeof line, "%d: %sFLOCK  ADVISORY  WRITE %d %02x:%02x:%lu 0 EOF\n",
                      id, waiting ? "-> " : "", pid, major(st.st_dev), minor(st.st_dev),
                      static_cast<unsigned long>(st.st_ino));
        return line;
    }

    PortFinding Check(PortFinding (*check)(const PortFacts&, const DoctorSystem&),
                      const std::string& port) {
        return check(GatherPortFacts(port, Sys), Sys);
    }

    TempFolder Root;
    DoctorSystem Sys;
    std::vector<SerialPortInfo> Ports;
};

TEST_F(FakeMachine, DeviceIsThereOrTheMachinesPortsAreNamed) {
    Port("ttyUSB0", UsbDevice);
    if (!IsCharDevice("dev/ttyUSB0")) GTEST_SKIP() << "no device nodes can be made here";
    fs::create_directories(Root.File("dev/serial/by-id"));
    const std::string stable = "/dev/serial/by-id/usb-FTDI_FT232R_A10K3X1Z-if00-port0";
    fs::create_symlink("../../ttyUSB0", Root.File(stable.substr(1)));
    Ports = {{"ttyS0", "/dev/ttyS0", "pnp", "serial", "", "", "", "", "", ""},
             {"ttyUSB0", "/dev/ttyUSB0", "usb", "ftdi_sio", "FTDI", "FT232R", "A10K3X1Z", "0403",
              "6001", stable}};
    Write("dev/ttyS9", "not a device");

    const PortFinding listed = Check(CheckDevice, stable);
    EXPECT_EQ(listed.Result, Verdict::Ok);
    EXPECT_EQ(listed.Text, stable +
                               " leads to /dev/ttyUSB0: FTDI FT232R, serial A10K3X1Z (USB "
                               "0403:6001)\n" +
                               stable);
    const PortFinding missing = Check(CheckDevice, "ttyUSB1");
    EXPECT_EQ(missing.Result, Verdict::Problem);
    EXPECT_EQ(missing.Text,
              "/dev/ttyUSB1 does not exist. Serial ports of this machine: ttyS0, ttyUSB0.");
    EXPECT_EQ(Check(CheckDevice, "ttyS9").Result, Verdict::Problem);
    Ports.clear();
    EXPECT_TRUE(Has(Check(CheckDevice, "ttyUSB1").Text, "This machine shows no serial port."));
}

struct AccessCase {
    const char* Title;
    unsigned Uid;
    bool InGroup;
    mode_t Mode;
    bool ListedInGroupFile;
    Verdict Result;
    std::string Says;
};

TEST_F(FakeMachine, AccessFollowsOwnerGroupAndTheGroupFile) {
    Port("ttyUSB0", UsbDevice);
    struct stat st {};
    ASSERT_EQ(stat(Root.File("dev/ttyUSB0").c_str(), &st), 0);
    const unsigned owner = st.st_uid, group = st.st_gid;
    const unsigned other = owner + 1;
    const std::string otherName = other == 1001 ? "bob" : "$USER";
    const AccessCase cases[] = {
        {"root", 0, false, 0660, false, Verdict::Ok, "root may open every port"},
        {"owner", owner, false, 0600, false, Verdict::Ok, "you own /dev/ttyUSB0"},
        {"group member", other, true, 0660, false, Verdict::Ok, "you are in the group dialout"},
        {"open to all", other, false, 0666, false, Verdict::Ok, "everyone may read and write"},
        {"outsider", other, false, 0660, false, Verdict::Problem,
         "belongs to the group dialout and you are not in it: sudo usermod -aG dialout " +
             otherName + ", then log out and in again."},
        {"added since login", other, false, 0660, true, Verdict::Problem,
         "You were added to the group dialout after this session began: log out and in again."},
        {"owner only", other, true, 0600, false, Verdict::Problem, "its owner only (mode 0600)"},
    };
    for (const AccessCase& c : cases) {
        if (c.Uid == owner && owner == 0) continue;  // root owns it here: covered by "root"
        RunAs(c.Uid,
              c.InGroup ? std::vector<unsigned>{other, group} : std::vector<unsigned>{other});
        Write("etc/group", "root:x:0:\ndialout:x:" + std::to_string(group) + ":" +
                               (c.ListedInGroupFile ? "alice,bob" : "") + "\n");
        chmod(Root.File("dev/ttyUSB0").c_str(), c.Mode);
        const PortFinding f = Check(CheckAccess, "ttyUSB0");
        EXPECT_EQ(f.Result, c.Result) << c.Title << ": " << f.Text;
        EXPECT_TRUE(Has(f.Text, c.Says)) << c.Title << ": " << f.Text;
        if (c.ListedInGroupFile) {
            EXPECT_FALSE(Has(f.Text, "usermod")) << c.Title;
        }
    }
    EXPECT_EQ(Check(CheckAccess, "ttyUSB7").Result, Verdict::Note);  // no such device
}

TEST_F(FakeMachine, HoldersFromOpenFilesAndTheLockTable) {
    Port("ttyUSB0", UsbDevice);
    Port("ttyUSB1", UsbDevice);
    EXPECT_EQ(Check(CheckHolders, "ttyUSB0").Text, "no other program holds /dev/ttyUSB0.");

    Process(SelfPid, "q40prog-cli", {"/dev/ttyUSB0"});  // the failing operation itself
    Process(100, "minicom", {"/dev/null", "/dev/ttyUSB0"});
    Process(200, "bash", {"/dev/ttyUSB1"});
    Process(300, "picocom");
    Process(400, "waiting");
    Write("proc/locks", LockLine(1, 300, "dev/ttyUSB0") + LockLine(1, 400, "dev/ttyUSB0", true) +
                            LockLine(2, SelfPid, "dev/ttyUSB0") + LockLine(3, 200, "dev/ttyUSB1"));
    const PortFinding f = Check(CheckHolders, "ttyUSB0");
    EXPECT_EQ(f.Result, Verdict::Problem);
    EXPECT_EQ(f.Text,
              "/dev/ttyUSB0 is held by picocom (pid 300), minicom (pid 100): end that program, "
              "then try again.");

    // Another user's process: its open files cannot be read.
    Write("proc/500/comm", "agetty\n");
    Write("proc/500/fd", "");
    const PortFinding hidden = Check(CheckHolders, "ttyUSB1");
    EXPECT_EQ(hidden.Result, Verdict::Problem);  // bash still holds it
    fs::remove_all(Root.File("proc/200"));
    Write("proc/locks", "");
    const PortFinding unseen = Check(CheckHolders, "ttyUSB1");
    EXPECT_EQ(unseen.Result, Verdict::Ok);
    EXPECT_TRUE(Has(unseen.Text, "sudo fuser -v /dev/ttyUSB1 shows them")) << unseen.Text;
}

TEST_F(FakeMachine, APseudoTerminalsOtherEndIsNoHolderButALockIs) {
    Node("dev/pts/3", 0620);
    Process(600, "q40prog-boxsim", {"/dev/ptmx", "/dev/pts/3"});
    const PortFinding end = Check(CheckHolders, "/dev/pts/3");
    EXPECT_EQ(end.Result, Verdict::Note);
    EXPECT_EQ(end.Text,
              "/dev/pts/3 is a pseudo-terminal; q40prog-boxsim (pid 600) holds its other end.");
    Process(700, "Q40Prog");
    Write("proc/locks", LockLine(1, 700, "dev/pts/3"));
    const PortFinding locked = Check(CheckHolders, "/dev/pts/3");
    EXPECT_EQ(locked.Result, Verdict::Problem);
    EXPECT_TRUE(Has(locked.Text, "held by Q40Prog (pid 700)")) << locked.Text;
}

TEST_F(FakeMachine, ModemManagerAndBrlttyMatterForUsbPorts) {
    Port("ttyACM0", UsbDevice);
    Port("ttyS0", BoardDevice);
    const struct {
        const char* Port;
        bool Running, Installed;
        Verdict ModemManager, Brltty;
    } cases[] = {
        {"ttyACM0", false, false, Verdict::Ok, Verdict::Ok},
        {"ttyACM0", true, true, Verdict::Problem, Verdict::Problem},
        {"ttyS0", true, true, Verdict::Note, Verdict::Note},
        {"ttyUSB3", true, true, Verdict::Problem, Verdict::Problem},  // missing: named like USB
    };
    for (const auto& c : cases) {
        fs::remove_all(Root.File("proc/812"));
        fs::remove(Root.File("usr/bin/brltty"));
        if (c.Running) Process(812, "ModemManager");
        if (c.Installed) Write("usr/bin/brltty", "");
        const PortFinding mm = Check(CheckModemManager, c.Port);
        const PortFinding brl = Check(CheckBrltty, c.Port);
        EXPECT_EQ(mm.Result, c.ModemManager) << c.Port << ": " << mm.Text;
        EXPECT_EQ(brl.Result, c.Brltty) << c.Port << ": " << brl.Text;
        if (mm.Result == Verdict::Problem) {
            EXPECT_TRUE(Has(mm.Text, "(pid 812)") && Has(mm.Text, "systemctl stop ModemManager"));
        }
        if (brl.Result == Verdict::Problem) {
            EXPECT_TRUE(Has(brl.Text, "sudo apt remove brltty"));
        }
    }
}

TEST_F(FakeMachine, TroublesAreTheProblemsFound) {
    Port("ttyUSB0", UsbDevice);
    Write("etc/group", "dialout:x:20:\n");
    RunAs(4242, {4242});  // neither owner nor in the group
    Process(100, "minicom", {"/dev/ttyUSB0"});
    Write("usr/bin/brltty", "");

    const std::vector<PortFinding> all = ExaminePort("ttyUSB0", Sys);
    std::vector<std::string> checks;
    for (const PortFinding& f : all) checks.push_back(f.Check);
    EXPECT_EQ(checks,
              (std::vector<std::string>{"device", "access", "holders", "ModemManager", "brltty"}));

    const auto troubles = PortTroubles("ttyUSB0", Sys, false);
    const bool node = IsCharDevice("dev/ttyUSB0");
    ASSERT_EQ(troubles.size(), node ? 3u : 4u);
    const std::size_t first = node ? 0 : 1;  // a plain file is "not a serial device"
    EXPECT_TRUE(Has(troubles[first], "usermod")) << troubles[first];
    EXPECT_TRUE(Has(troubles[first + 1], "minicom (pid 100)"));
    EXPECT_TRUE(Has(troubles[first + 2], "brltty"));
    const auto explained = PortTroubles("ttyUSB0", Sys, true);
    EXPECT_EQ(explained.size(), troubles.size() - 1);
    for (const std::string& t : explained) EXPECT_FALSE(Has(t, "usermod")) << t;
}
}  // namespace

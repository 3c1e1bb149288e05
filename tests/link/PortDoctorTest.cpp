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
        const std::string gid = std::to_string(groups.empty() ? 0 : groups[0]);
        Write("proc/1/status", "Name:\tq40prog-cli\nUid:\t" + std::to_string(uid) + "\t" +
                                   std::to_string(uid) + "\t0\t0\nGid:\t" + gid + "\t" + gid +
                                   "\t0\t0\nGroups:\t" + list + "\n");
        Write("proc/1/comm", "q40prog-cli\n");
        Write("etc/passwd",
              "root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n"
              "bob:x:1001:1001::/home/bob:/bin/sh\n");
    }

    // A device node when this machine lets us make one, else a plain file (device check aside,
    // the checks only look at owner, group and mode). By default it has the numbers of a USB
    // adapter's port.
    void Node(const std::string& path, mode_t mode = 0660, dev_t number = makedev(188, 0)) {
        const std::string full = Root.File(path);
        fs::create_directories(fs::path(full).parent_path());
        if (mknod(full.c_str(), S_IFCHR | mode, number) != 0) std::ofstream(full).close();
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

// No cure joins a group that may not read and write the port, nor the group root: a port only
// its owner may use, or one of the group root, is the administrator's, with a udev rule line
// ready to use.
TEST_F(FakeMachine, NoCureJoinsAGroupThatCannotUseThePortNorRoot) {
    Port("ttyUSB0", UsbDevice);
    Port("ttyS0", BoardDevice);
    if (geteuid() != 0) GTEST_SKIP() << "owner and group of the fixture's nodes need root";
    Ports = {{"ttyUSB0", "/dev/ttyUSB0", "usb", "ftdi_sio", "FTDI", "FT232R", "A10K3X1Z", "0403",
              "6001", ""}};
    const std::string rules = "The rule, as a line of /etc/udev/rules.d/70-q40prog-serial.rules: ";
    const std::string usbRule =
        "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
        "GROUP=\"dialout\", MODE=\"0660\"";
    const struct {
        const char* Title;
        const char* Port;
        unsigned Group;  // of the node
        mode_t Mode;
        bool InDialout;
        std::string Says;
    } cases[] = {
        {"owner only, in dialout", "ttyUSB0", 20, 0600, true,
         "/dev/ttyUSB0 may be read and written by its owner only (mode 0600): ask the "
         "administrator for a udev rule giving it to the group dialout. " +
             rules + usbRule},
        {"owner only, not in dialout", "ttyUSB0", 20, 0600, false,
         "/dev/ttyUSB0 may be read and written by its owner only (mode 0600): ask the "
         "administrator for a udev rule giving it to the group dialout, and to add you to that "
         "group. " +
             rules + usbRule},
        {"group may only read", "ttyUSB0", 20, 0640, false, "by its owner only (mode 0640)"},
        {"group root", "ttyUSB0", 0, 0660, false,
         "/dev/ttyUSB0 belongs to the group root, which is no group to join for a port: ask the "
         "administrator for a udev rule giving it to the group dialout, and to add you to that "
         "group. " +
             rules + usbRule},
        {"owner only, no USB ids", "ttyS0", 0, 0600, true,
         rules + "SUBSYSTEM==\"tty\", KERNEL==\"ttyS0\", GROUP=\"dialout\", MODE=\"0660\""},
    };
    for (const auto& c : cases) {
        const std::string node = Root.File(std::string("dev/") + c.Port);
        ASSERT_EQ(chown(node.c_str(), 0, c.Group), 0);
        chmod(node.c_str(), c.Mode);
        RunAs(1000, c.InDialout ? std::vector<unsigned>{1000, 20} : std::vector<unsigned>{1000});
        Write("etc/group", "root:x:0:\ndialout:x:20:\n");
        const PortFinding f = Check(CheckAccess, c.Port);
        EXPECT_EQ(f.Result, Verdict::Problem) << c.Title;
        EXPECT_TRUE(Has(f.Text, c.Says)) << c.Title << ": " << f.Text;
        EXPECT_FALSE(Has(f.Text, "usermod")) << c.Title << ": " << f.Text;
        EXPECT_EQ(AccessCure(c.Port, Sys), f.Text) << c.Title;
    }

    // Where the system names its serial group uucp, the rule gives the port to uucp.
    const std::string node = Root.File("dev/ttyUSB0");
    ASSERT_EQ(chown(node.c_str(), 0, 14), 0);
    chmod(node.c_str(), 0600);
    Write("etc/group", "root:x:0:\nuucp:x:14:\n");
    EXPECT_TRUE(Has(AccessCure("ttyUSB0", Sys), "GROUP=\"uucp\", MODE=\"0660\""))
        << AccessCure("ttyUSB0", Sys);

    // A pseudo-terminal of another user: no rule reaches it.
    Node("dev/pts/7", 0620);
    ASSERT_EQ(chown(Root.File("dev/pts/7").c_str(), 1001, 5), 0);
    EXPECT_EQ(AccessCure("/dev/pts/7", Sys),
              "/dev/pts/7 is a pseudo-terminal that only its owner may use (mode 0620): start the "
              "program at its other end as your own user.");

    // Rights that are there: nothing to cure.
    chmod(node.c_str(), 0666);
    EXPECT_EQ(AccessCure("ttyUSB0", Sys), "");
}

// /dev/null and its kind exist and are character devices, but no port: a problem of their own,
// and the many programs that hold them are no holders of a port.
TEST_F(FakeMachine, ADeviceThatIsNoSerialPortIsAProblemAndHasNoHolders) {
    Node("dev/null", 0666, makedev(1, 3));
    if (!IsCharDevice("dev/null")) GTEST_SKIP() << "no device nodes can be made here";
    Node("dev/zero", 0666, makedev(1, 5));
    Node("dev/tty", 0666, makedev(5, 0));
    Node("dev/ptmx", 0666, makedev(5, 2));
    Node("dev/pts/ptmx", 0666, makedev(5, 2));
    Node("dev/tty1", 0620, makedev(4, 1));
    Node("dev/ttyGS0", 0660, makedev(240, 0));  // a tty without a device behind it
    fs::create_directories(Root.File("sys/class/tty/ttyGS0"));
    Port("ttyUSB0", UsbDevice);
    Process(100, "bash", {"/dev/null", "/dev/tty", "/dev/ttyGS0"});
    for (const char* port :
         {"/dev/null", "/dev/zero", "/dev/tty", "/dev/ptmx", "/dev/pts/ptmx", "tty1", "ttyGS0"}) {
        const PortFacts facts = GatherPortFacts(port, Sys);
        EXPECT_TRUE(facts.NotSerial) << port;
        const PortFinding device = CheckDevice(facts, Sys);
        EXPECT_EQ(device.Result, Verdict::Problem) << port;
        EXPECT_TRUE(Has(device.Text, facts.Device + " is a device, but not a serial port: name "
                                                    "the port the programmer box is on."))
            << device.Text;
        const PortFinding holders = CheckHolders(facts, Sys);
        EXPECT_EQ(holders.Result, Verdict::Note) << port;
        EXPECT_EQ(holders.Text, "not checked: " + facts.Given + " is not a serial port.");
    }
    EXPECT_FALSE(GatherPortFacts("ttyUSB0", Sys).NotSerial);
    EXPECT_EQ(Check(CheckDevice, "ttyUSB0").Result, Verdict::Ok);
}

// One of our own runs holding the port is updating a device: ending it mid-erase is the one
// thing not to advise. Any other program holding it may be ended.
TEST_F(FakeMachine, OurOwnUpdateHoldingThePortIsWaitedFor) {
    Port("ttyUSB0", UsbDevice);
    Process(100, "q40prog-cli", {"/dev/ttyUSB0"});
    EXPECT_EQ(Check(CheckHolders, "ttyUSB0").Text,
              "/dev/ttyUSB0 is held by q40prog-cli (pid 100), updating a device on this port: "
              "wait for it to end.");
    Process(200, "minicom", {"/dev/ttyUSB0"});
    Process(300, "Q40Prog");
    Write("proc/locks", LockLine(1, 300, "dev/ttyUSB0"));
    const PortFinding both = Check(CheckHolders, "ttyUSB0");
    EXPECT_EQ(both.Result, Verdict::Problem);
    EXPECT_EQ(both.Text,
              "/dev/ttyUSB0 is held by minicom (pid 200): end that program, then try again. It is "
              "also held by Q40Prog (pid 300), q40prog-cli (pid 100), updating a device on this "
              "port: wait for it to end.");
}
}  // namespace

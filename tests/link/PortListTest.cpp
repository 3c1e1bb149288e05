// The port list: which ttys are listed, what each port is called, and that listing opens
// no device (opening pulses DTR, which resets a box on the port).
#include "link/PortList.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"

namespace {
TEST(PortList, ListsTtysWithAKnownOrUntoldUart) {
    EXPECT_TRUE(IsListedSerialPort(true, "4"));        // 16550A
    EXPECT_TRUE(IsListedSerialPort(true, nullptr));    // USB adapters tell no UART type
    EXPECT_FALSE(IsListedSerialPort(true, "0"));       // a legacy slot without hardware
    EXPECT_FALSE(IsListedSerialPort(false, nullptr));  // virtual terminals, the console
}

TEST(PortList, DescriptionSaysWhatThePortIs) {
    SerialPortInfo ftdi{"ttyUSB0",         "/dev/ttyUSB0", "usb",  "ftdi_sio", "FTDI",
                        "FT232R USB UART", "A10K3X1Z",     "0403", "6001",     ""};
    SerialPortInfo repeated = ftdi;
    repeated.Model = "FTDI FT232R";
    SerialPortInfo bare{"ttyUSB1", "/dev/ttyUSB1", "usb", "ch341", "", "", "", "1a86", "7523", ""};
    SerialPortInfo onlyVendor = bare;
    onlyVendor.Vendor = "QinHeng";
    const struct {
        SerialPortInfo Port;
        const char* Text;
    } cases[] = {
        {ftdi, "FTDI FT232R USB UART, serial A10K3X1Z (USB 0403:6001)"},
        {repeated, "FTDI FT232R, serial A10K3X1Z (USB 0403:6001)"},
        {bare, "USB serial adapter (USB 1a86:7523)"},
        {onlyVendor, "QinHeng (USB 1a86:7523)"},
        {{"ttyS0", "/dev/ttyS0", "pnp", "serial", "", "", "", "", "", ""}, "on-board serial port"},
        {{"ttyS4", "/dev/ttyS4", "pci", "serial", "", "", "", "", "", ""}, "PCI serial card"},
        {{"ttyAMA0", "/dev/ttyAMA0", "platform", "uart-pl011", "", "", "", "", "", ""},
         "serial port (uart-pl011)"},
        {{"ttyX0", "/dev/ttyX0", "", "", "", "", "", "", "", ""}, "serial port"},
    };
    for (const auto& c : cases) EXPECT_EQ(PortDescription(c.Port), c.Text) << c.Port.Name;

    ftdi.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X1Z-if00-port0";
    EXPECT_EQ(PortDetails(ftdi),
              "FTDI FT232R USB UART, serial A10K3X1Z (USB 0403:6001)\n"
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X1Z-if00-port0");
    EXPECT_EQ(PortDetails(bare), "USB serial adapter (USB 1a86:7523)");
}

TEST(PortList, StableNamesLeadToTheirNodes) {
    namespace fs = std::filesystem;
    TempFolder root;
    fs::create_directories(root.File("serial/by-id"));
    std::ofstream(root.File("ttyUSB0")).close();
    std::ofstream(root.File("ttyACM0")).close();
    fs::create_symlink("../../ttyUSB0", root.File("serial/by-id/usb-FTDI_X-if00-port0"));
    fs::create_symlink("../../ttyACM0", root.File("serial/by-id/usb-Arduino_Uno_55-if00"));
    fs::create_symlink("../../gone", root.File("serial/by-id/usb-Unplugged-if00"));
    const std::string real = fs::canonical(root.Path).string();
    const auto names = StableNames(root.File("serial/by-id"));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names.at(real + "/ttyUSB0"), root.File("serial/by-id/usb-FTDI_X-if00-port0"));
    EXPECT_EQ(names.at(real + "/ttyACM0"), root.File("serial/by-id/usb-Arduino_Uno_55-if00"));
    EXPECT_TRUE(StableNames(root.File("no-such-folder")).empty());
}

TEST(PortList, NaturalOrder) {
    std::vector<std::string> names{"ttyUSB0", "ttyS10", "ttyACM0", "ttyS2", "ttyS"};
    std::sort(names.begin(), names.end(), PortNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS", "ttyS2", "ttyS10", "ttyUSB0"}));
}

// Whatever this machine has: only real ports, sorted, and no device node opened to find them.
TEST(PortList, ThisMachinesPortsWithoutOpeningAny) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, "/dev", IN_OPEN), 0);
    const std::vector<SerialPortInfo> ports = ListSerialPorts();

    std::vector<std::string> opened;
    alignas(inotify_event) char buffer[16384];
    ssize_t n;
    while ((n = read(watch, buffer, sizeof buffer)) > 0)
        for (char* p = buffer; p < buffer + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if (e->len && std::string(e->name).rfind("tty", 0) == 0) opened.push_back(e->name);
            p += sizeof(inotify_event) + e->len;
        }
    close(watch);
    EXPECT_TRUE(opened.empty()) << "opened /dev/" << opened.front();

    for (const SerialPortInfo& p : ports) {
        EXPECT_EQ(p.Node, "/dev/" + p.Name);
        EXPECT_NE(p.Name, "console");
        EXPECT_NE(p.Name, "ptmx");
        EXPECT_FALSE(p.Name.size() > 3 && p.Name.compare(0, 3, "tty") == 0 &&
                     std::isdigit(static_cast<unsigned char>(p.Name[3])))
            << p.Name << " is a virtual terminal";
        EXPECT_FALSE(PortDescription(p).empty());
    }
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return PortNameLess(a.Name, b.Name);
    }));
}
}  // namespace

// The port list from udev: the tty devices the kernel announced, and their parents'
// attributes. Reads sysfs only; no device node is opened.
#include <libudev.h>

#include <algorithm>
#include <memory>

#include "link/PortList.h"

namespace {
constexpr char StableNameFolder[] = "/dev/serial/by-id";

struct UdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevFree>;

std::string Text(const char* s) {
    return s ? s : "";
}

std::string Attribute(udev_device* d, const char* name) {
    return d ? Text(udev_device_get_sysattr_value(d, name)) : std::string();
}

// Virtual terminals and the console live under /sys/devices/virtual and have no parent.
bool HasDevice(udev_device* tty) {
    udev_device* parent = udev_device_get_parent(tty);
    if (!parent) return false;
    const std::string path = Text(udev_device_get_syspath(parent));
    return path.find("/devices/virtual/") == std::string::npos;
}

std::string FirstDriver(udev_device* d) {
    for (udev_device* p = udev_device_get_parent(d); p; p = udev_device_get_parent(p))
        if (const char* driver = udev_device_get_driver(p)) return driver;
    return {};
}

std::string BusOf(udev_device* tty) {
    for (const char* bus : {"usb", "pci", "pnp", "platform"})
        if (udev_device_get_parent_with_subsystem_devtype(tty, bus, nullptr)) return bus;
    return {};
}

SerialPortInfo Describe(udev_device* tty) {
    SerialPortInfo port;
    port.Name = Text(udev_device_get_sysname(tty));
    port.Node = Text(udev_device_get_devnode(tty));
    if (port.Node.empty()) port.Node = "/dev/" + port.Name;
    port.Bus = BusOf(tty);
    port.Driver = FirstDriver(tty);
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
        port.Vendor = Attribute(usb, "manufacturer");
        port.Model = Attribute(usb, "product");
        port.Serial = Attribute(usb, "serial");
        port.VendorId = Attribute(usb, "idVendor");
        port.ProductId = Attribute(usb, "idProduct");
    }
    return port;
}
}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    UdevPtr<udev> u(udev_new());
    if (!u) return ports;
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0)
        return ports;
    const auto stable = StableNames(StableNameFolder);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevPtr<udev_device> tty(
            udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!tty) continue;
        if (!IsListedSerialPort(HasDevice(tty.get()),
                                udev_device_get_sysattr_value(tty.get(), "type")))
            continue;
        SerialPortInfo port = Describe(tty.get());
        const auto link = stable.find(port.Node);
        if (link != stable.end()) port.ById = link->second;
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return PortNameLess(a.Name, b.Name);
    });
    return ports;
}

#include "link/PortList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
std::pair<std::string, long> SplitNumber(const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    const long n = i < s.size() ? std::strtol(s.c_str() + i, nullptr, 10) : -1;
    return {s.substr(0, i), n};
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// "FTDI" and "FTDI FT232R" read as "FTDI FT232R", not "FTDI FTDI FT232R".
std::string VendorAndModel(const SerialPortInfo& p) {
    if (p.Vendor.empty()) return p.Model;
    if (p.Model.empty()) return p.Vendor;
    if (StartsWith(p.Model, p.Vendor)) return p.Model;
    return p.Vendor + " " + p.Model;
}

std::string UsbDescription(const SerialPortInfo& p) {
    std::string text = VendorAndModel(p);
    if (text.empty()) text = "USB serial adapter";
    if (!p.Serial.empty()) text += ", serial " + p.Serial;
    if (!p.VendorId.empty() && !p.ProductId.empty())
        text += " (USB " + p.VendorId + ":" + p.ProductId + ")";
    return text;
}
}  // namespace

bool IsListedSerialPort(bool hasDevice, const char* uartType) {
    if (!hasDevice) return false;
    return !uartType || std::strcmp(uartType, "0") != 0;
}

std::string PortDescription(const SerialPortInfo& port) {
    if (port.Bus == "usb") return UsbDescription(port);
    if (port.Bus == "pnp") return "on-board serial port";
    if (port.Bus == "pci") return "PCI serial card";
    if (!port.Driver.empty()) return "serial port (" + port.Driver + ")";
    return "serial port";
}

std::string PortDetails(const SerialPortInfo& port) {
    std::string text = PortDescription(port);
    if (!port.ById.empty()) text += "\n" + port.ById;
    return text;
}

bool PortNameLess(const std::string& a, const std::string& b) {
    return SplitNumber(a) < SplitNumber(b);
}

std::vector<std::string> PortNames(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> names;
    for (const SerialPortInfo& port : ports) names.push_back(port.Name);
    return names;
}

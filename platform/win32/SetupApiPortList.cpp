// The port list from SetupAPI's Ports class: the COM ports Windows knows, with their
// friendly name and, for USB adapters, VID, PID and serial number from the hardware and
// instance ids. The registry's SERIALCOMM list is the fallback for ports no device class
// describes (Wine's mapped ports among them). No port is opened.
#include <windows.h>
// After windows.h: SetupAPI's headers need its types.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <set>

#include "link/PortList.h"
#include "link/SerialPort.h"
#include "platform/win32/WideText.h"

namespace {
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD property) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &dev, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr))
        return {};
    return Narrow(buffer);
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& dev) {
    HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - 2;
    DWORD type = 0;
    const bool ok = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                     reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
    RegCloseKey(key);
    return ok ? Narrow(name) : std::string();
}

std::string UpperHex(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    return out;
}

// "USB\VID_0403&PID_6001\A10K3X1Z": the numbers and, after the last "\", the serial number
// (Windows makes one up with "&" in it when the device has none).
void ReadUsbIds(const std::string& instanceId, SerialPortInfo& port) {
    const auto vid = instanceId.find("VID_");
    const auto pid = instanceId.find("PID_");
    if (vid == std::string::npos || pid == std::string::npos) return;
    port.Bus = "usb";
    port.VendorId = UpperHex(instanceId.substr(vid + 4, 4));
    port.ProductId = UpperHex(instanceId.substr(pid + 4, 4));
    const auto slash = instanceId.rfind('\\');
    if (slash != std::string::npos && instanceId.find('&', slash) == std::string::npos)
        port.Serial = instanceId.substr(slash + 1);
}

std::vector<SerialPortInfo> FromSetupApi() {
    std::vector<SerialPortInfo> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        SerialPortInfo port;
        port.Name = PortNameOf(set, dev);
        if (port.Name.rfind("COM", 0) != 0) continue;  // printer ports share the class
        port.Node = SerialDevicePath(port.Name);
        port.Model = Property(set, dev, SPDRP_FRIENDLYNAME);
        port.Vendor = Property(set, dev, SPDRP_MFG);
        port.Driver = Property(set, dev, SPDRP_SERVICE);
        wchar_t id[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &dev, id, 511, nullptr)) ReadUsbIds(Narrow(id), port);
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

std::vector<std::string> FromSerialComm() {
    std::vector<std::string> names;
    HKEY key{};
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t value[256] = {};
        DWORD valueSize = 255;
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - 2;
        DWORD type = 0;
        if (RegEnumValueW(key, i, value, &valueSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        if (type == REG_SZ) names.push_back(Narrow(data));
    }
    RegCloseKey(key);
    return names;
}
}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports = FromSetupApi();
    std::set<std::string> known;
    for (const SerialPortInfo& p : ports) known.insert(p.Name);
    for (const std::string& name : FromSerialComm()) {
        if (!known.insert(name).second) continue;
        SerialPortInfo port;
        port.Name = name;
        port.Node = SerialDevicePath(name);
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return PortNameLess(a.Name, b.Name);
    });
    return ports;
}

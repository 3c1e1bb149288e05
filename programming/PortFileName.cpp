#include "programming/PortFileName.h"

#include <cstdio>
#include <filesystem>

#include "link/SerialPort.h"

namespace {

bool KeptAsIs(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The port as the serial layer opens it, as one absolute path: names that open the same
// device give the same text.
std::string DevicePath(const std::string& portName) {
    const std::string device = SerialDevicePath(portName), devices = SerialDeviceFolder();
    // Windows' device names (\\.\COM3) are no files: SerialDevicePath gave their one form.
    if (devices[0] == '\\' && device.rfind(devices, 0) == 0) return device;
    std::error_code ignored;
    std::filesystem::path path = device;
    if (path.is_relative()) path = std::filesystem::absolute(path, ignored);
    return path.lexically_normal().string();
}
}  // namespace

std::string PortFileName(const std::string& portName) {
    std::string path = DevicePath(portName);
    // Under /dev the rest never starts with '/'; elsewhere the whole path does ("+...").
    const std::string devices = SerialDeviceFolder();
    if (path.rfind(devices, 0) == 0 && path.size() > devices.size()) path.erase(0, devices.size());
    std::string name;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (KeptAsIs(u)) {
            name += c;
        } else if (c == '/') {
            name += '+';
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", u);
            name += escaped;
        }
    }
    return name;
}

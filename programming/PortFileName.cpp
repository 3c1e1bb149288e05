#include "programming/PortFileName.h"

#include <cstdio>
#include <filesystem>

#include "link/SerialPort.h"

namespace {
const std::string DevFolder = "/dev/";

bool KeptAsIs(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The port as the serial layer opens it, as one absolute path: names that open the same
// device give the same text.
std::string DevicePath(const std::string& portName) {
    std::error_code ignored;
    std::filesystem::path path = SerialDevicePath(portName);
    if (path.is_relative()) path = std::filesystem::absolute(path, ignored);
    return path.lexically_normal().string();
}
}  // namespace

std::string PortFileName(const std::string& portName) {
    std::string path = DevicePath(portName);
    // Under /dev the rest never starts with '/'; elsewhere the whole path does ("+...").
    if (path.rfind(DevFolder, 0) == 0 && path.size() > DevFolder.size())
        path.erase(0, DevFolder.size());
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

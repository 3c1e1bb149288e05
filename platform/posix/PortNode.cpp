#include "link/PortNode.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/PosixSerialPort.h"

namespace {
// "regular file", "directory", ...: what a node that is no character device is.
const char* KindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISBLK(mode)) return "a block device";
    return "no device";
}

// The class the system files a character device under ("tty", "mem"); empty when unknown.
std::string DeviceClass(dev_t device, const std::string& sysRoot) {
    const std::string link = sysRoot + "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device)) + "/subsystem";
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string path(target, static_cast<std::size_t>(n));
    return path.substr(path.rfind('/') + 1);
}
}  // namespace

PortNode ExaminePortNode(const std::string& port, const std::string& sysRoot) {
    PortNode node;
    node.Path = SerialDevicePath(port);
    struct stat st {};
    if (::stat(node.Path.c_str(), &st) != 0) {
        // Only a name that leads nowhere may still come; anything else is for the open to say.
        node.Result = errno == ENOENT ? PortNode::Missing : PortNode::MaybeSerial;
        return node;
    }
    node.Result = PortNode::NotSerial;
    if (!S_ISCHR(st.st_mode)) {
        node.Problem = node.Path + " is " + KindOf(st.st_mode) + ", not a serial port";
        return node;
    }
    const std::string deviceClass = DeviceClass(st.st_rdev, sysRoot);
    if (!deviceClass.empty() && deviceClass != "tty") {
        node.Problem =
            node.Path + " is a device of the class " + deviceClass + ", not a serial port";
        return node;
    }
    node.Result = PortNode::MaybeSerial;
    return node;
}

#pragma once
// What a port name leads to before anything is opened: nothing yet (a USB adapter not
// plugged in), something that may be a serial port, or something that never can be (a
// regular file, a folder, a device of another kind). A program that waits for a port to come
// refuses the last at once instead of waiting for it for ever.

#include <string>

struct PortNode {
    enum Kind { Missing, MaybeSerial, NotSerial };
    Kind Result = Missing;
    std::string Path;     // the device path the name stands for: ttyUSB0 -> /dev/ttyUSB0
    std::string Problem;  // with NotSerial: "<path> is a directory, not a serial port"
};

// 'sysRoot' is where /sys is found ("" on this machine; a fixture folder in tests). A
// character device whose class the system names (/sys/dev/char/<major>:<minor>/subsystem)
// is a serial port only in the class tty; one the system does not describe (a
// pseudo-terminal) may be one.
PortNode ExaminePortNode(const std::string& port, const std::string& sysRoot = {});

#pragma once
// The serial ports of this machine, named as a user types them (ttyUSB0, ttyACM0, ttyS0).

#include <string>
#include <vector>

// Ports with a device behind them, in natural order (ttyS2 before ttyS10).
std::vector<std::string> EnumerateSerialPorts();
// Same, from another sysfs root; for tests.
std::vector<std::string> EnumerateSerialPorts(const std::string& sysClassTty);
// Natural-order comparison: prefix, then number.
bool PortNameLess(const std::string& a, const std::string& b);

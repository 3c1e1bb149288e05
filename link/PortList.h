#pragma once
// The serial ports of this machine, named as a user types them (ttyUSB0, ttyACM0, ttyS0),
// with what the system knows about each. Listing opens no port: opening one pulses its DTR
// line, which resets a programmer box sitting on it.

#include <map>
#include <string>
#include <vector>

struct SerialPortInfo {
    std::string Name;    // ttyUSB0: the port box's text and what every operation opens
    std::string Node;    // /dev/ttyUSB0
    std::string Bus;     // usb, pci, pnp (on-board), platform; empty when unknown
    std::string Driver;  // ftdi_sio, cdc_acm, ...
    // The USB device's own strings and numbers; empty for other buses.
    std::string Vendor, Model, Serial;
    std::string VendorId, ProductId;  // four hex digits each
    std::string ById;                 // /dev/serial/by-id/...: stays the same on any socket
};

// Ports with a device behind them, in natural order (ttyS2 before ttyS10).
std::vector<SerialPortInfo> ListSerialPorts();
// Their names only.
std::vector<std::string> PortNames(const std::vector<SerialPortInfo>& ports);

// Whether a tty is a serial port worth listing: it has a device behind it, and a UART
// other than "unknown" (type 0: a slot the legacy driver reserves without hardware) when
// the kernel tells its type.
bool IsListedSerialPort(bool hasDevice, const char* uartType);

// One line saying what the port is: "FTDI FT232R USB UART, serial A10K3X1Z (USB 0403:6001)".
std::string PortDescription(const SerialPortInfo& port);
// The description and, on a line of its own, the stable name when there is one.
std::string PortDetails(const SerialPortInfo& port);

// The device node behind each link in a folder such as /dev/serial/by-id: node -> link.
std::map<std::string, std::string> StableNames(const std::string& folder);

// Natural-order comparison: prefix, then number.
bool PortNameLess(const std::string& a, const std::string& b);

#pragma once
// What the link needs of a serial port. Calls report success as bool and keep the
// cause in LastError() (an errno value); the link turns causes into failure codes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A read of n bytes ends when all arrived, when IntervalMs pass between two bytes,
// or when TotalMultiplierMs * n + TotalConstantMs pass in all.
struct ReadTimeouts {
    int IntervalMs;
    int TotalMultiplierMs;
    int TotalConstantMs;
};

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens exclusively; false with LastError() EBUSY (held elsewhere), EACCES,
    // ENOENT (no such device) or another errno.
    virtual bool Open(const std::string& name) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    // 115200 baud, 8N1, raw, no flow control.
    virtual bool ConfigureLine() = 0;
    virtual bool SetReadTimeouts(const ReadTimeouts& t) = 0;
    // A port without modem lines accepts the call and does nothing.
    virtual bool SetDtr(bool asserted) = 0;
    virtual void PurgeReceive() = 0;
    virtual void PurgeTransmit() = 0;

    // Blocking read under the read time-outs; 'received' tells how many arrived.
    // False only when the call itself failed (port gone, I/O error).
    virtual bool Read(uint8_t* dest, std::size_t count, std::size_t& received) = 0;
    virtual bool Write(const uint8_t* src, std::size_t count) = 0;

    virtual int LastError() const = 0;
    // The device path actually opened, for messages.
    virtual std::string Path() const = 0;

    // Causes of trouble with this port that the system shows (another program holding it,
    // missing rights, a service that grabs serial ports), one sentence each, to explain a
    // failed open or a silent box. accessExplained: the failure already names the cure for
    // missing rights. A port without such causes (a test's fake) has none.
    virtual std::vector<std::string> KnownTroubles(bool accessExplained) const {
        (void)accessExplained;
        return {};
    }
    // After an open refused for missing rights: what gives this user read and write rights
    // on the port, as the port doctor judges them (its access check); empty when that finds
    // nothing to cure.
    virtual std::string AccessCure() const { return {}; }
};

// The port of this machine (termios on POSIX, the COMM API on Windows).
std::unique_ptr<ISerialPort> MakeSystemSerialPort();

// What a port name opens: "ttyUSB0" -> "/dev/ttyUSB0", a path with a slash as given; on
// Windows COM3 -> \\.\COM3, com12 and \\.\COM12 -> \\.\COM12 (above COM9 only that form opens).
std::string SerialDevicePath(const std::string& portName);
// Where SerialDevicePath puts a bare name: "/dev/" on POSIX, "\\.\" on Windows.
std::string SerialDeviceFolder();

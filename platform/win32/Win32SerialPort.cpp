#include "platform/win32/Win32SerialPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "link/PortDoctor.h"
#include "platform/win32/WideText.h"

namespace {
constexpr char DevicePrefix[] = "\\\\.\\";

ULONGLONG NowMs() {
    return GetTickCount64();
}
}  // namespace

std::unique_ptr<ISerialPort> MakeSystemSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

std::string SerialDeviceFolder() {
    return DevicePrefix;
}

std::string SerialDevicePath(const std::string& portName) {
    if (portName.rfind(DevicePrefix, 0) == 0) return portName;
    std::string name = portName;
    // "com12" and "COM12" are one port; the device namespace is what opens COM10 and above.
    if (name.size() > 3 && (name[0] == 'c' || name[0] == 'C') &&
        (name[1] == 'o' || name[1] == 'O') && (name[2] == 'm' || name[2] == 'M'))
        name.replace(0, 3, "COM");
    return DevicePrefix + name;
}

Win32SerialPort::~Win32SerialPort() {
    Close();
}

bool Win32SerialPort::Fail(DWORD code) {
    Error = ErrnoFromWin32(code);
    return false;
}

bool Win32SerialPort::Open(const std::string& name) {
    Close();
    DevicePath = SerialDevicePath(name);
    // No sharing: Windows gives a COM port to one handle at a time.
    HANDLE h = CreateFileW(Widen(DevicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A port another program holds is refused as "access denied".
        if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
            Error = EBUSY;
            return false;
        }
        return Fail(code);
    }
    Handle = h;
    DCB found{};
    found.DCBlength = sizeof found;
    if (GetCommState(Handle, &found)) FoundLine = found;
    COMMTIMEOUTS foundTimeouts{};
    if (GetCommTimeouts(Handle, &foundTimeouts)) FoundTimeouts = foundTimeouts;
    // DTR and RTS off from the start, as the box expects them before a reset pulse.
    EscapeCommFunction(Handle, CLRDTR);
    EscapeCommFunction(Handle, CLRRTS);
    return true;
}

void Win32SerialPort::Close() {
    if (Handle == INVALID_HANDLE_VALUE) return;
    // Immediately, not after draining: output the box no longer reads must not hold up a close.
    PurgeComm(Handle, PURGE_TXABORT | PURGE_TXCLEAR);
    if (FoundLine) SetCommState(Handle, &*FoundLine);
    if (FoundTimeouts) SetCommTimeouts(Handle, &*FoundTimeouts);
    FoundLine.reset();
    FoundTimeouts.reset();
    CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
}

std::vector<std::string> Win32SerialPort::KnownTroubles(bool accessExplained) const {
    return PortTroubles(DevicePath, ThisMachine(), accessExplained);
}

bool Win32SerialPort::ConfigureLine() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Handle, &dcb)) return Fail(GetLastError());
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(Handle, &dcb)) return Fail(GetLastError());
    return true;
}

bool Win32SerialPort::SetReadTimeouts(const ReadTimeouts& t) {
    Timeouts = t;
    return true;
}

// One read call under one deadline: the gap between bytes and the time left in all.
bool Win32SerialPort::ApplyTimeouts(DWORD deadlineMs) {
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = static_cast<DWORD>(std::max(Timeouts.IntervalMs, 1));
    ct.ReadTotalTimeoutMultiplier = 0;
    ct.ReadTotalTimeoutConstant = std::max<DWORD>(deadlineMs, 1);
    ct.WriteTotalTimeoutMultiplier = 0;
    ct.WriteTotalTimeoutConstant = WriteStallMs;
    if (!SetCommTimeouts(Handle, &ct)) return Fail(GetLastError());
    return true;
}

bool Win32SerialPort::SetDtr(bool asserted) {
    if (EscapeCommFunction(Handle, asserted ? SETDTR : CLRDTR)) return true;
    const DWORD code = GetLastError();
    // A port without modem lines (Wine on a pseudo-terminal) has nothing to pulse.
    if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_PARAMETER ||
        code == ERROR_INVALID_FUNCTION || code == ERROR_GEN_FAILURE)
        return true;
    return Fail(code);
}

void Win32SerialPort::PurgeReceive() {
    PurgeComm(Handle, PURGE_RXABORT | PURGE_RXCLEAR);
}
void Win32SerialPort::PurgeTransmit() {
    PurgeComm(Handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

bool Win32SerialPort::Read(uint8_t* dest, std::size_t count, std::size_t& received) {
    received = 0;
    if (Handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    const ULONGLONG deadline = NowMs() +
                               static_cast<ULONGLONG>(Timeouts.TotalMultiplierMs) * count +
                               static_cast<ULONGLONG>(Timeouts.TotalConstantMs);
    while (received < count) {
        const ULONGLONG now = NowMs();
        if (now >= deadline) return true;  // time-out: a short read
        if (!ApplyTimeouts(static_cast<DWORD>(deadline - now))) return false;
        const DWORD wanted = static_cast<DWORD>(count - received);
        DWORD n = 0;
        if (!ReadFile(Handle, dest + received, wanted, &n, nullptr)) return Fail(GetLastError());
        received += n;
        if (n < wanted) return true;  // the gap between bytes or the time in all ran out
    }
    return true;
}

bool Win32SerialPort::Write(const uint8_t* src, std::size_t count) {
    if (Handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    std::size_t sent = 0;
    while (sent < count) {
        DWORD n = 0;
        if (!WriteFile(Handle, src + sent, static_cast<DWORD>(count - sent), &n, nullptr))
            return Fail(GetLastError());
        if (n == 0) {
            Error = ETIMEDOUT;
            return false;
        }
        sent += n;
    }
    return true;
}

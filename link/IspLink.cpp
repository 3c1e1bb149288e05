#include "link/IspLink.h"
#include "link/Bytes.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

using namespace isp;

namespace {

// What a user without rights on the device has to do about it.
std::string PermissionCure(const std::string& path) {
    std::string group = "dialout";
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        struct group entry {};
        struct group* found = nullptr;
        char buffer[4096];  // the reentrant form: runs on other ports may ask at the same time
        if (getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            group = found->gr_name;
    }
    return ". Add your user to the group '" + group +
           "' that owns the port, e.g. sudo usermod -aG " + group + " $USER, then log in again.";
}
}  // namespace

TIspLink::TIspLink() : TIspLink(MakeSystemSerialPort(), SystemClock()) {}

TIspLink::TIspLink(std::unique_ptr<ISerialPort> port, IClock& clock)
    : Port(std::move(port)), Clock(clock) {}

TIspLink::~TIspLink() {
    if (Port && Port->IsOpen()) Port->Close();
}

// ---- serial link --------------------------------------------------------------

void TIspLink::OpenPort(const std::string& portName) {
    if (!Port->Open(portName)) FailOpen();
    // A port that refuses its settings is no failure here: whether the box answers is what
    // counts, and the first command finds that out with a failure of its own.
    Port->ConfigureLine();
    Port->SetReadTimeouts({ReadIntervalMs, ReadTotalPerByteMs, ReadTotalConstantMs});
}

void TIspLink::FailOpen() {
    const int os = Port->LastError();
    switch (os) {
        case EBUSY:
        case EWOULDBLOCK:
            throw OsFailure(errPortInUse, os, {});
        case EACCES:
        case EPERM: {
            EProgError e = OsFailure(errPortInUse, os, Port->Path());
            e.Detail += PermissionCure(Port->Path());
            throw e;
        }
        case ENOENT:
        case ENODEV:
        case ENXIO:
            throw OsFailure(errPortNotAvailable, os, {});
        default:
            throw OsFailure(errSerialPort, os, Port->Path());
    }
}

std::vector<std::string> TIspLink::ExplainFailure(const EProgError& e) const {
    switch (e.Code) {
        case errBadEcho:
        case errNotConnected:
        case errPortInUse:
        case errPortNotAvailable:
        case errSerialPort:
            break;
        default:
            return {};
    }
    // A refused open names the cure for missing rights already.
    const bool accessExplained =
        e.Code == errPortInUse && (e.OsError == EACCES || e.OsError == EPERM);
    return Port->KnownTroubles(accessExplained);
}

void TIspLink::ResetProgrammer() {
    if (!Port->SetDtr(true)) throw OsFailure(errSerialPort, Port->LastError(), {});
    Clock.SleepMs(ResetPulseMs);
    if (!Port->SetDtr(false)) throw OsFailure(errSerialPort, Port->LastError(), {});
    Clock.SleepMs(ResetSettleMs);
    Port->PurgeReceive();
    Port->PurgeTransmit();
}

void TIspLink::WriteByte(int value) {
    const uint8_t b = Lo8(value);
    WriteBlock(&b, 1);
}

uint8_t TIspLink::ReadByte() {
    uint8_t b = 0;
    ReadBlock(&b, 1);
    return b;
}

void TIspLink::ReadBlock(uint8_t* dest, unsigned count) {
    std::size_t got = 0;
    if (!Port->Read(dest, count, got)) throw OsFailure(errSerialPort, Port->LastError(), {});
    if (got < count) throw EProgError(errNotConnected);
}

void TIspLink::WriteBlock(const uint8_t* src, int count) {
    if (count <= 0) return;
    if (!Port->Write(src, static_cast<std::size_t>(count)))
        throw OsFailure(errSerialPort, Port->LastError(), {});
}

uint8_t TIspLink::SendCommand(int letter) {
    WriteByte(letter);
    const uint8_t echo = ReadByte();
    if (echo != Lo8(letter)) throw EProgError(errBadEcho);
    return echo;
}

void TIspLink::SendFrame(int letter, const uint8_t* tail, int count) {
    SendCommand(letter);
    WriteBlock(tail, count);
}

// ---- programmer commands --------------------------------------------------------

void TIspLink::IspCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t param) {
    SendCommand(CmdIsp);
    Frame[0] = b1;
    Frame[1] = b2;
    Frame[2] = b3;
    Frame[3] = b4;
    Frame[4] = param;
    WriteBlock(Frame, 5);
    ReadBlock(Reply, 4);
}

void TIspLink::SetPortTime(int value) {
    const uint8_t tail[] = {Mid8(value), Lo8(value)};
    SendFrame(CmdPortTime, tail, sizeof tail);
}

void TIspLink::EnableProgMode() {
    SendCommand(CmdHigh);
    Clock.SleepMs(EnableStepMs);
    SendCommand(CmdLow);
    Clock.SleepMs(EnableStepMs);
    Clock.SleepMs(EnableStepMs);
    SendCommand(CmdEnable);
    Clock.SleepMs(EnableStepMs);
    SendCommand(CmdHigh);
    Clock.SleepMs(EnableStepMs);
    SendCommand(CmdLow);
    for (int attempt = 0; attempt < EnableAttempts; ++attempt) {
        IspCommand(0xAC, 0x53, 0x00, 0x00, 0);
        if (Reply[2] == EnableAnswer) return;
        SendCommand(CmdPulse);
    }
    throw EProgError(errProgMode);
}

std::string TIspLink::ReadChipType() {
    std::snprintf(Device.Name, sizeof Device.Name, "%s", "Unknown");
    IspCommand(0x30, 0x00, 0x01, 0x00, 0);
    const uint8_t sig1 = Reply[3];
    IspCommand(0x30, 0x00, 0x02, 0x00, 0);
    const uint8_t sig2 = Reply[3];
    const DeviceEntry* row = FindDeviceBySignature(sig1, sig2);
    if (!row) throw EProgError(errUnknownChip);
    Device = *row;
    return Device.Name;
}

void TIspLink::DisableProgMode() {
    SendCommand(CmdDisable);
}

std::string TIspLink::ReadVersion() {
    SendCommand(CmdVersion);
    const auto major = static_cast<int8_t>(ReadByte());
    const auto minor = static_cast<int8_t>(ReadByte());
    char version[32];
    std::snprintf(version, sizeof version, " V%i.%i", major, minor);
    return std::string(Banner) + version;
}

void TIspLink::EraseChip() {
    IspCommand(0xAC, 0x80, 0x00, 0x00, 0);
    Clock.SleepMs(EraseWaitMs);
}

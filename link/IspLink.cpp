#include "link/IspLink.h"
#include "link/Bytes.h"

#include <cerrno>
#include <cstdio>

using namespace isp;

namespace {
std::string HexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// What a code-9 failure means at the bench: the box is there, the chip is not.
constexpr const char* NoChipAnswers =
    "the box answers, but no chip does: check the ISP cable and its pin 1, that the device is "
    "powered, and that no fuse has disabled serial programming";
}  // namespace

TIspLink::TIspLink() : TIspLink(MakeSystemSerialPort(), SystemClock()) {}

TIspLink::TIspLink(std::unique_ptr<ISerialPort> port, IClock& clock)
    : Port(std::move(port)), Clock(clock) {}

TIspLink::~TIspLink() {
    if (Port && Port->IsOpen()) Port->Close();
}

// ---- serial link --------------------------------------------------------------

void TIspLink::OpenPort(const std::string& portName) {
    Heard = false;
    ProgMode = false;
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
            // The cure is the port doctor's judgement of the user's rights, the same the
            // doctor prints: one judgement wherever a refused port is explained.
            EProgError e = OsFailure(errPortInUse, os, Port->Path());
            if (const std::string cure = Port->AccessCure(); !cure.empty()) e.Detail += ". " + cure;
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

std::string TIspLink::SilenceDetail() const {
    if (!Heard)
        return "nothing answered on " + Port->Path() +
               ": check that the programmer box is on this port and powered; q40prog-cli ports "
               "lists the serial ports of this machine";
    std::string where;
    if (Now.What) {
        where = std::string(" while ") + Now.What;
        if (Now.Address >= 0) {
            char address[24];
            std::snprintf(address, sizeof address, " at address 0x%04X",
                          static_cast<unsigned>(Now.Address));
            where += address;
        }
    } else if (LastLetter == CmdIsp) {
        where = " at the ISP instruction " + HexByte(Frame[0]) + " " + HexByte(Frame[1]) + " " +
                HexByte(Frame[2]) + " " + HexByte(Frame[3]);
    } else {
        where = std::string(" at the command '") + static_cast<char>(LastLetter) + "'";
    }
    return "the box went quiet" + where;
}

void TIspLink::ResetProgrammer() {
    ProgMode = false;  // a reset box starts outside programming mode
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
    if (got > 0) Heard = true;
    if (got < count) throw EProgError(errNotConnected, SilenceDetail());
}

void TIspLink::WriteBlock(const uint8_t* src, int count) {
    if (count <= 0) return;
    if (!Port->Write(src, static_cast<std::size_t>(count)))
        throw OsFailure(errSerialPort, Port->LastError(), {});
}

uint8_t TIspLink::SendCommand(int letter) {
    LastLetter = Lo8(letter);
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
    // The frame is built before the letter goes out, so that a box silent at the letter is
    // told with the instruction it was given.
    Frame[0] = b1;
    Frame[1] = b2;
    Frame[2] = b3;
    Frame[3] = b4;
    Frame[4] = param;
    SendCommand(CmdIsp);
    WriteBlock(Frame, 5);
    ReadBlock(Reply, 4);
}

void TIspLink::SetPortTime(int value) {
    const Doing doing(*this, "setting the port time");
    const uint8_t tail[] = {Mid8(value), Lo8(value)};
    SendFrame(CmdPortTime, tail, sizeof tail);
}

void TIspLink::EnableProgMode() {
    const Doing doing(*this, "entering programming mode");
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
        if (Reply[2] == EnableAnswer) {
            ProgMode = true;
            return;
        }
        SendCommand(CmdPulse);
    }
    throw EProgError(errProgMode, NoChipAnswers);
}

std::string TIspLink::ReadChipType() {
    const Doing doing(*this, "reading the chip's signature");
    std::snprintf(Device.Name, sizeof Device.Name, "%s", "Unknown");
    IspCommand(0x30, 0x00, 0x01, 0x00, 0);
    const uint8_t sig1 = Reply[3];
    IspCommand(0x30, 0x00, 0x02, 0x00, 0);
    const uint8_t sig2 = Reply[3];
    const DeviceEntry* row = FindDeviceBySignature(sig1, sig2);
    if (!row)
        throw EProgError(errUnknownChip, "signature bytes read from the chip: " + HexByte(sig1) +
                                             " " + HexByte(sig2) + "; no supported chip has them");
    Device = *row;
    return Device.Name;
}

void TIspLink::DisableProgMode() {
    const Doing doing(*this, "leaving programming mode");
    SendCommand(CmdDisable);
    ProgMode = false;
}

std::string TIspLink::ReadVersion() {
    const Doing doing(*this, "reading the box's version");
    SendCommand(CmdVersion);
    const auto major = static_cast<int8_t>(ReadByte());
    const auto minor = static_cast<int8_t>(ReadByte());
    char version[32];
    std::snprintf(version, sizeof version, " V%i.%i", major, minor);
    return std::string(Banner) + version;
}

void TIspLink::EraseChip() {
    const Doing doing(*this, "erasing the chip");
    IspCommand(0xAC, 0x80, 0x00, 0x00, 0);
    Clock.SleepMs(EraseWaitMs);
}

// No purge first: on a line without DTR (the simulator's pseudo-terminal) a purge is what
// resets the box, and the failed read has waited its whole time-out for late bytes already.
bool TIspLink::ChipAnswers() {
    const Doing doing(*this, "asking the chip for its signature again");
    IspCommand(0x30, 0x00, 0x01, 0x00, 0);
    const uint8_t sig1 = Reply[3];
    IspCommand(0x30, 0x00, 0x02, 0x00, 0);
    const uint8_t sig2 = Reply[3];
    const bool identified = Device.FlashSize > 0;
    if (identified) return sig1 == Device.Signature1 && sig2 == Device.Signature2;
    return FindDeviceBySignature(sig1, sig2) != nullptr;
}

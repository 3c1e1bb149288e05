// The programmer link against a box that answers with any bytes at all: whatever comes back,
// only EProgError with a code the operation may raise leaves the link, nothing is read or
// written outside its buffers, and every operation ends (the clock is injected: no waits).
//
// Input: a header, then the box's answers in the order the link reads them.
//   byte 0      chip (one of a few small ones, byte and page mode)
//   bytes 1-4   operations, in order (see Operation)
//   byte 5      the read call that fails (0: none)      byte 6  the write call that fails
//   byte 7      the progress call that asks to stop     byte 8  open and DTR failures
//   bytes 9-40  pattern the flash and EEPROM images are filled with
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "link/DeviceTable.h"
#include "link/IspLink.h"
#include "tests/support/ScriptedPort.h"

namespace {
enum Operation {
    opVersion,
    opIdentify,  // port time, programming mode, signature
    opReadEeprom,
    opProgramEeprom,
    opProgramFlash,
    opErase,
    opLeave,  // leave programming mode
};
constexpr int OperationCount = 7;
constexpr int OperationSlots = 4;
constexpr std::size_t PatternOffset = 9, PatternBytes = 32;
constexpr std::size_t HeaderBytes = PatternOffset + PatternBytes;
const char* const SmallChips[] = {"AT90S2313", "ATtiny13", "ATmega48", "ATmega16"};
const int OpenErrors[] = {0, EBUSY, EACCES, ENOENT, EIO};
constexpr uint8_t Canary = 0xA5;

void Require(bool ok) {
    if (!ok) __builtin_trap();
}

// Fails the chosen read or write call, as a port whose device went away.
class FuzzPort : public ScriptedPort {
public:
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        if (++Reads == FailRead) ReadErrno = EIO;
        return ScriptedPort::Read(dest, count, received);
    }
    bool Write(const uint8_t* src, std::size_t count) override {
        if (++Writes == FailWrite) WriteErrno = EIO;
        return ScriptedPort::Write(src, count);
    }
    int FailRead = 0, FailWrite = 0, Reads = 0, Writes = 0;
};

struct Header {
    const DeviceEntry* Chip;
    int Operations[OperationSlots];
    int FailRead, FailWrite, AbortAt, OpenErrno;
    bool DtrFails;
    uint8_t Pattern[PatternBytes];
};

Header ReadHeader(const uint8_t* data, std::size_t size) {
    uint8_t h[HeaderBytes] = {};
    std::memcpy(h, data, size < HeaderBytes ? size : HeaderBytes);
    Header r{};
    r.Chip = FindDeviceByName(SmallChips[h[0] % (sizeof SmallChips / sizeof *SmallChips)]);
    for (int i = 0; i < OperationSlots; ++i) r.Operations[i] = h[1 + i] % OperationCount;
    r.FailRead = h[5];
    r.FailWrite = h[6];
    r.AbortAt = h[7];
    r.OpenErrno = OpenErrors[(h[8] & 0x7F) % (sizeof OpenErrors / sizeof *OpenErrors)];
    r.DtrFails = (h[8] & 0x80) != 0;
    std::memcpy(r.Pattern, h + PatternOffset, PatternBytes);
    return r;
}

struct Progress {
    int Calls = 0, AbortAt = 0;
    bool AbortAsked = false;
};

bool OnProgress(void* user, int32_t position, int32_t total, ProgressPhase phase) {
    auto* p = static_cast<Progress*>(user);
    const bool finished = (phase & 1) != 0;
    Require(finished ? position == 1 && total == 1 : position >= 0 && position < total);
    if (finished) return false;
    p->AbortAsked = ++p->Calls == p->AbortAt;
    return p->AbortAsked;
}

bool Allowed(int32_t code, std::initializer_list<int32_t> codes) {
    for (int32_t c : codes)
        if (c == code) return true;
    return false;
}

// Runs one operation; only its own failure codes may come out of it.
void Run(TIspLink& link, int op, const DeviceEntry& chip) {
    try {
        switch (op) {
            case opVersion:
                link.ReadVersion();
                break;
            case opIdentify:
                link.SetPortTime(100);
                link.EnableProgMode();
                Require(FindDeviceByName(link.ReadChipType().c_str()) != nullptr);
                link.Device = chip;  // transfers stay on the small chip
                break;
            case opReadEeprom:
                link.ReadEeprom();
                break;
            case opProgramEeprom:
                link.ProgramEeprom();
                break;
            case opProgramFlash:
                link.ProgramFlash();
                break;
            case opErase:
                link.EraseChip();
                break;
            default:
                link.DisableProgMode();
                break;
        }
    } catch (const EProgError& e) {
        const bool transfer = op == opReadEeprom || op == opProgramEeprom || op == opProgramFlash;
        Require(
            Allowed(e.Code, {errBadEcho, errNotConnected, errSerialPort}) ||
            (op == opIdentify && Allowed(e.Code, {errUnknownChip, errProgMode})) ||
            (transfer && e.Code == errAborted) ||
            (op == opProgramEeprom && e.Code == errEepromProgram) ||
            (op == opProgramFlash && e.Code == errFlashProgram && link.MismatchLog.size() == 6));
        throw;
    }
}

uint8_t EepromPatternAt(const Header& h, int32_t i) {
    return h.Pattern[(i + 7) % PatternBytes];
}

// Fills with copies of the pattern, each copy doubling the filled part: a byte loop over the
// whole flash image would cost more than the operations under test.
void FillPeriodic(uint8_t* bytes, std::size_t size, const uint8_t* pattern) {
    std::memcpy(bytes, pattern, PatternBytes);
    for (std::size_t done = PatternBytes; done < size; done *= 2)
        std::memcpy(bytes + done, bytes, std::min(done, size - done));
}

void FillImages(TIspLink& link, const Header& h) {
    FillPeriodic(link.FlashImage, isp::FlashImageSize, h.Pattern);
    std::memset(link.EepromImage, Canary, isp::EepromImageSize);
    for (int32_t i = 0; i < h.Chip->EepromSize; ++i) link.EepromImage[i] = EepromPatternAt(h, i);
}

// The link writes only the EEPROM image's first EepromSize bytes, and only when reading the
// EEPROM; never the flash image.
void CheckImages(const TIspLink& link, const Header& h, bool eepromRead) {
    // Still the pattern when it starts with it and equals itself shifted by one period.
    Require(std::memcmp(link.FlashImage, h.Pattern, PatternBytes) == 0);
    Require(std::memcmp(link.FlashImage + PatternBytes, link.FlashImage,
                        isp::FlashImageSize - PatternBytes) == 0);
    static const std::vector<uint8_t> canaries(isp::EepromImageSize, Canary);
    const int32_t used = h.Chip->EepromSize;
    Require(std::memcmp(link.EepromImage + used, canaries.data(),
                        static_cast<std::size_t>(isp::EepromImageSize - used)) == 0);
    for (int32_t i = 0; i < used && !eepromRead; ++i)
        Require(link.EepromImage[i] == EepromPatternAt(h, i));
    Require(link.MismatchLog.empty() || link.MismatchLog.size() == 6);
}

// The link is over 300 KiB. A heap block of that size per input costs the kernel more than
// the operations under test cost; a global one is reused, and the address sanitizer still
// guards the bytes behind it.
alignas(TIspLink) unsigned char LinkStorage[sizeof(TIspLink)];

struct LinkInStorage {
    LinkInStorage(std::unique_ptr<ISerialPort> port, IClock& clock)
        : Link(*new (LinkStorage) TIspLink(std::move(port), clock)) {}
    ~LinkInStorage() { Link.~TIspLink(); }
    TIspLink& Link;
};

std::unique_ptr<FuzzPort> MakePort(const Header& h, const uint8_t* answers, std::size_t count) {
    auto port = std::make_unique<FuzzPort>();
    port->Queue(std::vector<uint8_t>(answers, answers + count));
    port->FailRead = h.FailRead;
    port->FailWrite = h.FailWrite;
    port->OpenErrno = h.OpenErrno;
    port->DtrErrno = h.DtrFails ? EIO : 0;
    return port;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const Header h = ReadHeader(data, size);
    const std::size_t answers = size > HeaderBytes ? size - HeaderBytes : 0;
    FakeClock clock;
    LinkInStorage storage(MakePort(h, data + size - answers, answers), clock);
    TIspLink& link = storage.Link;
    Progress progress;
    progress.AbortAt = h.AbortAt;
    link.Device = *h.Chip;
    link.OnProgress = OnProgress;
    link.UserData = &progress;
    FillImages(link, h);
    try {
        link.OpenPort("ttyFUZZ");
        link.ResetProgrammer();
    } catch (const EProgError& e) {
        Require(Allowed(e.Code, {errPortInUse, errPortNotAvailable, errSerialPort}));
        return 0;
    }
    bool eepromRead = false;
    try {
        for (int op : h.Operations) {
            eepromRead = eepromRead || op == opReadEeprom;
            Run(link, op, *h.Chip);
        }
    } catch (const EProgError& e) {
        Require(e.Code != errAborted || progress.AbortAsked);  // a stop only when asked
    }
    CheckImages(link, h, eepromRead);
    return 0;
}

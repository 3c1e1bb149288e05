#include "sim/BoxModel.h"

#include <stdexcept>

namespace {
constexpr uint8_t EnableAnswer = 0x53;
constexpr uint8_t ManufacturerAtmel = 0x1E;
constexpr const char* EntrySequence = "HLEHL";

uint32_t Address24(const std::vector<uint8_t>& f) {
    return (uint32_t{f[0]} << 16) | (uint32_t{f[1]} << 8) | f[2];
}
uint32_t Address16(const std::vector<uint8_t>& f) {
    return (uint32_t{f[0]} << 8) | f[1];
}
}  // namespace

const DeviceEntry& ChipByName(const std::string& name) {
    if (const DeviceEntry* d = FindDeviceByName(name.c_str())) return *d;
    throw std::invalid_argument("unknown chip '" + name + "'");
}

BoxModel::BoxModel(const BoxConfig& config)
    : Target(ChipByName(config.Chip)), Config(config), HasTarget(!config.TargetAbsent) {}

void BoxModel::RemoveTarget() {
    HasTarget = false;
    ProgEnabled = false;
}

void BoxModel::ConnectTarget(const TargetModel& fresh) {
    if (HasTarget) return;
    Target = fresh;
    HasTarget = true;
    ++TargetsConnected;
}

void BoxModel::Reset() {
    Letter = 0;
    Frame.clear();
    RecentLetters.clear();
    EntryDone = false;
    ProgEnabled = false;
    PendingDelayUs = 0;
}

void BoxModel::Send(uint8_t value) {
    if (Config.Silent) return;
    if (Config.DropAfter >= 0 && BytesReceived > Config.DropAfter) return;
    Output.push_back({value, PendingDelayUs});
    PendingDelayUs = 0;
    ++BytesSent;
}

std::size_t CommandTailLength(uint8_t letter, const std::vector<uint8_t>& tail) {
    switch (letter) {
        case 'I':
            return 5;
        case 't':
            return 2;
        case 'r':
            return 3;
        case 'R':
            return 4;
        case 'S':
            return 6;
        case 'w':
            return tail.size() >= 3 ? 4 + tail[2] : 4;
        case 'W':
            return tail.size() >= 4 ? 6 + tail[3] : 6;
        default:
            return 0;
    }
}

void BoxModel::Receive(const uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        ++BytesReceived;
        if (Config.DropAfter >= 0 && BytesReceived > Config.DropAfter) continue;
        if (Letter == 0) {
            StartCommand(data[i]);
        } else {
            Frame.push_back(data[i]);
        }
        if (Letter != 0 && Frame.size() >= CommandTailLength(Letter, Frame)) Execute();
    }
}

void BoxModel::StartCommand(uint8_t letter) {
    static const std::string known = "IHLEPDtVrwRWS";
    if (known.find(static_cast<char>(letter)) == std::string::npos) return;  // noise
    Send(Config.BadEcho ? static_cast<uint8_t>(letter ^ 0x20) : letter);
    CommandLetters += static_cast<char>(letter);
    Letter = letter;
    Frame.clear();
}

void BoxModel::Execute() {
    const uint8_t letter = Letter;
    Letter = 0;
    if (letter == 'H' || letter == 'L' || letter == 'E') {
        RecentLetters = (RecentLetters + static_cast<char>(letter));
        if (RecentLetters.size() > 5) RecentLetters.erase(0, RecentLetters.size() - 5);
        EntryDone = RecentLetters == EntrySequence;
        return;
    }
    switch (letter) {
        case 'I':
            ExecuteIsp();
            break;
        case 'P':
            break;  // RESET pulse; the entry stays valid for the next attempt
        case 'D':
            ProgEnabled = false;
            EntryDone = false;
            RecentLetters.clear();
            if (OnDisable) OnDisable();
            break;
        case 't':
            break;  // port time: the real box paces its clock by it
        case 'V':
            Send(static_cast<uint8_t>(Config.VersionMajor));
            Send(static_cast<uint8_t>(Config.VersionMinor));
            break;
        case 'r':
            ReadBlock(false);
            break;
        case 'R':
            ReadBlock(true);
            break;
        case 'w':
            WriteEepromBlock();
            break;
        case 'W':
            WriteFlashBlock();
            break;
        case 'S':
            StorePage();
            break;
        default:
            break;
    }
}

void BoxModel::ExecuteIsp() {
    const uint8_t b1 = Frame[0], b2 = Frame[1], b3 = Frame[2], b4 = Frame[3];
    uint8_t reply[4] = {0x00, 0x00, 0x00, 0x00};
    // The reply shifts out with the instruction; the erase runs after it.
    uint32_t busyAfterReply = 0;
    if (b1 == 0xAC && b2 == 0x53) {
        ++EnableAttempts;
        const bool answers =
            EntryDone && HasTarget && !Config.NoTarget && EnableAttempts >= Config.EnableOnAttempt;
        if (answers) ProgEnabled = true;
        // An AVR in sync echoes the second instruction byte while the third shifts in.
        reply[1] = answers ? b1 : 0;
        reply[2] = answers ? EnableAnswer : 0;
    } else if (ProgEnabled) {
        reply[1] = b1;
        reply[2] = b2;
        reply[3] = b4;
        const DeviceEntry& chip = Target.Chip();
        if (b1 == 0x30) {
            const uint8_t sig[3] = {ManufacturerAtmel, chip.Signature1, chip.Signature2};
            reply[3] = (b3 & 3) < 3 ? sig[b3 & 3] : 0xFF;
        } else if (b1 == 0xAC && b2 == 0x80) {
            Target.ChipErase();
            busyAfterReply = chiptime::ChipEraseUs;
        } else if (b1 == 0xAC && b2 == 0xA0) {
            Target.FuseLo = b4;
        } else if (b1 == 0xAC && b2 == 0xA8) {
            Target.FuseHi = b4;
        } else if (b1 == 0xAC && b2 == 0xA4) {
            Target.FuseEx = b4;
        } else if (b1 == 0x4D) {
            Target.ExtendedAddress = b3;
        } else if (b1 == 0x50 && b2 == 0x00) {
            reply[3] = Target.FuseLo;
        } else if (b1 == 0x58 && b2 == 0x08) {
            reply[3] = Target.FuseHi;
        } else if (b1 == 0x50 && b2 == 0x08) {
            reply[3] = Target.FuseEx;
        } else if (b1 == 0x58 && b2 == 0x00) {
            reply[3] = Target.LockBits;
        }
    }
    for (uint8_t r : reply) Send(r);
    if (Config.WriteDelays) PendingDelayUs += busyAfterReply;
}

void BoxModel::MarkWritten(bool flash, uint32_t address, std::size_t count) {
    auto& written = flash ? WrittenFlashFaults : WrittenEepromFaults;
    const auto covered = [&](uint32_t a) { return a >= address && a < address + count; };
    for (const auto& entry : flash ? Config.FlakyFlash : Config.FlakyEeprom)
        if (covered(entry.first)) written.insert(entry.first);
    for (uint32_t a : flash ? Config.StuckFlash : Config.StuckEeprom)
        if (covered(a)) written.insert(a);
}

uint8_t BoxModel::CorruptIfFaulty(bool flash, uint32_t address, std::size_t count,
                                  std::size_t index, uint8_t value) {
    if (index != 0) return value;
    auto& written = flash ? WrittenFlashFaults : WrittenEepromFaults;
    auto& flaky = flash ? Config.FlakyFlash : Config.FlakyEeprom;
    const auto& stuck = flash ? Config.StuckFlash : Config.StuckEeprom;
    bool corrupt = false;
    for (auto it = written.lower_bound(address); it != written.end() && *it < address + count;) {
        const auto f = flaky.find(*it);
        if (stuck.count(*it)) corrupt = true;
        if (f != flaky.end() && f->second > 0) {
            --f->second;
            corrupt = true;
        }
        it = written.erase(it);
    }
    return corrupt ? static_cast<uint8_t>(value ^ 0x01) : value;
}

void BoxModel::ReadBlock(bool flash) {
    const uint32_t address = flash ? Address24(Frame) : Address16(Frame);
    const uint32_t count = flash ? Frame[3] : Frame[2];
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t v = 0xFF;
        if (ProgEnabled) v = flash ? Target.ReadFlash(address + i) : Target.ReadEeprom(address + i);
        Send(CorruptIfFaulty(flash, address, count, i, v));
    }
}

void BoxModel::WriteEepromBlock() {
    const uint32_t address = Address16(Frame);
    const uint32_t count = Frame[2];
    if (!ProgEnabled) return;
    for (uint32_t i = 0; i < count; ++i) Target.WriteEeprom(address + i, Frame[4 + i]);
    MarkWritten(false, address, count);
    if (Config.WriteDelays) PendingDelayUs += chiptime::EepromByteUs * count;
}

void BoxModel::WriteFlashBlock() {
    const uint32_t address = Address24(Frame);
    const uint32_t count = Frame[3];
    const bool byteMode = Frame[4] != 0 || Frame[5] != 0;
    if (!ProgEnabled) return;
    for (uint32_t i = 0; i < count; ++i) {
        if (byteMode)
            Target.WriteFlashByte(address + i, Frame[6 + i]);
        else
            Target.LoadPageBuffer(address + i, Frame[6 + i]);
    }
    if (!byteMode) return;
    MarkWritten(true, address, count);
    if (Config.WriteDelays) PendingDelayUs += chiptime::FlashByteUs * count;
}

void BoxModel::StorePage() {
    if (!ProgEnabled) return;
    const uint32_t base = Target.WritePage(Address24(Frame) & 0x1FFFF);
    MarkWritten(true, base, static_cast<std::size_t>(Target.PageBufferSize()));
    if (Config.WriteDelays) PendingDelayUs += chiptime::FlashPageUs;
}

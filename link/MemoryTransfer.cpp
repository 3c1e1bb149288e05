// Block transfers of EEPROM and flash with read-back verification.
#include <cstdio>
#include <cstring>

#include "link/Bytes.h"
#include "link/IspLink.h"

using namespace isp;

namespace {

std::string HexLine(const uint8_t* bytes, int count) {
    std::string line;
    char cell[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        line += cell;
    }
    return line;
}
}  // namespace

bool TIspLink::Report(int32_t position, int32_t total, ProgressPhase phase) {
    return OnProgress && OnProgress(UserData, position, total, phase);
}

bool TIspLink::IsBlank(const uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i)
        if (bytes[i] != Blank) return false;
    return true;
}

void TIspLink::DumpMismatch(const uint8_t* written, const uint8_t* read, int32_t address,
                            int count) {
    char head[48];
    MismatchLog.clear();
    std::snprintf(head, sizeof head, "Written at Address 0x%08X", static_cast<unsigned>(address));
    MismatchLog.emplace_back(head);
    for (int o = 0; o < count; o += 16)
        MismatchLog.push_back(HexLine(written + o, std::min(16, count - o)));
    std::snprintf(head, sizeof head, "Read from Address 0x%08X", static_cast<unsigned>(address));
    MismatchLog.emplace_back(head);
    for (int o = 0; o < count; o += 16)
        MismatchLog.push_back(HexLine(read + o, std::min(16, count - o)));
}

void TIspLink::ReadEeprom() {
    const Doing doing(*this, "reading the eeprom");
    for (int32_t p = 0; p < Device.EepromSize; p += BlockSize) {
        if (Report(p, Device.EepromSize, phReadEeprom)) throw EProgError(errAborted);
        Now.Address = p;
        const uint8_t tail[] = {Mid8(p), Lo8(p), BlockSize};
        SendFrame(CmdReadEeprom, tail, sizeof tail);
        ReadBlock(EepromImage + p, BlockSize);
    }
    Report(1, 1, phEepromRead);
}

void TIspLink::ProgramEeprom() {
    const Doing doing(*this, "programming the eeprom");
    ProgramLoop(Device.EepromSize, phProgramEeprom, phEepromProgrammed, errEepromProgram,
                &TIspLink::ProgramEepromBlock);
}

void TIspLink::ProgramFlash() {
    const Doing doing(*this, "programming the flash");
    ProgramLoop(Device.FlashSize, phProgramFlash, phFlashProgrammed, errFlashProgram,
                Device.PageSize == 1 ? &TIspLink::ProgramFlashBlock : &TIspLink::ProgramFlashPage);
}

// A mismatch repeats the same block; ten in a row end the transfer.
void TIspLink::ProgramLoop(int32_t extent, ProgressPhase phase, ProgressPhase done,
                           int32_t failCode, bool (TIspLink::*step)(int32_t&)) {
    int32_t p = 0;
    int attemptsLeft = AttemptsPerBlock;
    while (p < extent) {
        if (Report(p, extent, phase)) throw EProgError(errAborted);
        Now.Address = p;
        if ((this->*step)(p)) {
            attemptsLeft = AttemptsPerBlock;
            continue;
        }
        ++RetriesUsed;
        if (--attemptsLeft == 0) throw EProgError(failCode);
    }
    Report(1, 1, done);
}

bool TIspLink::ReadBackMatches(int letter, int32_t address, const uint8_t* expected) {
    Now.Address = address;
    if (letter == CmdReadFlash) {
        ReadFlashBlock(address, Reply);
    } else {
        const uint8_t tail[] = {Mid8(address), Lo8(address), BlockSize};
        SendFrame(letter, tail, sizeof tail);
        ReadBlock(Reply, BlockSize);
    }
    return std::memcmp(Reply, expected, BlockSize) == 0;
}

void TIspLink::ReadFlashBlock(int32_t address, uint8_t* dest) {
    const uint8_t tail[] = {Hi8(address), Mid8(address), Lo8(address), BlockSize};
    SendFrame(CmdReadFlash, tail, sizeof tail);
    ReadBlock(dest, BlockSize);
}

void TIspLink::ReadFlash() {
    for (int32_t p = 0; p < Device.FlashSize; p += BlockSize) {
        if (Report(p, Device.FlashSize, phReadFlash)) throw EProgError(errAborted);
        ReadFlashBlock(p, FlashImage + p);
    }
    Report(1, 1, phFlashRead);
}

void TIspLink::VerifyFlash() {
    MismatchLog.clear();
    int32_t first = -1;
    BlocksDiffering = 0;
    for (int32_t p = 0; p < Device.FlashSize; p += BlockSize) {
        if (Report(p, Device.FlashSize, phVerifyFlash)) throw EProgError(errAborted);
        if (ReadBackMatches(CmdReadFlash, p, FlashImage + p)) continue;
        if (BlocksDiffering++ == 0) {
            first = p;
            DumpMismatch(FlashImage + p, Reply, p, BlockSize);
        }
    }
    if (BlocksDiffering == 0) {
        Report(1, 1, phFlashVerified);
        return;
    }
    char detail[128];
    std::snprintf(detail, sizeof detail, "%d of %d blocks of %d bytes differ, the first at 0x%08X",
                  BlocksDiffering, Device.FlashSize / BlockSize, BlockSize,
                  static_cast<unsigned>(first));
    throw EProgError(errFlashVerify, detail);
}

bool TIspLink::ProgramEepromBlock(int32_t& p) {
    if (!IsBlank(EepromImage + p, BlockSize) && !WriteEepromBlock(p)) return false;
    p += BlockSize;
    return true;
}

// Without an erase before it, a blank block of the image is as much data as any other.
bool TIspLink::RewriteEepromBlock(int32_t& p) {
    const bool same = std::memcmp(EepromImage + p, EepromBefore + p, BlockSize) == 0;
    if (!same && !WriteEepromBlock(p)) return false;
    p += BlockSize;
    return true;
}

bool TIspLink::WriteEepromBlock(int32_t p) {
    const uint8_t* data = EepromImage + p;
    uint8_t frame[4 + BlockSize] = {Mid8(p), Lo8(p), BlockSize, EepromWriteParam};
    std::memcpy(frame + 4, data, BlockSize);
    SendFrame(CmdWriteEeprom, frame, sizeof frame);
    return ReadBackMatches(CmdReadEeprom, p, data);
}

void TIspLink::ProgramEepromOver(const uint8_t* current) {
    const Doing doing(*this, "programming the eeprom");
    EepromBefore = current;
    ProgramLoop(Device.EepromSize, phProgramEeprom, phEepromProgrammed, errEepromProgram,
                &TIspLink::RewriteEepromBlock);
    EepromBefore = nullptr;
}

void TIspLink::VerifyEeprom() {
    const Doing doing(*this, "verifying the eeprom");
    for (int32_t p = 0; p < Device.EepromSize; p += BlockSize) {
        if (Report(p, Device.EepromSize, phVerifyEeprom)) throw EProgError(errAborted);
        if (!ReadBackMatches(CmdReadEeprom, p, EepromImage + p)) {
            int32_t at = p;
            while (Reply[at - p] == EepromImage[at]) ++at;
            char where[96];
            std::snprintf(where, sizeof where, "address 0x%04X holds 0x%02X instead of 0x%02X",
                          static_cast<unsigned>(at), Reply[at - p], EepromImage[at]);
            throw EProgError(errEepromVerify, where);
        }
    }
    Report(1, 1, phEepromVerified);
}

bool TIspLink::ProgramFlashBlock(int32_t& p) {
    const uint8_t* data = FlashImage + p;
    if (!IsBlank(data, BlockSize)) {
        uint8_t frame[6 + BlockSize] = {Hi8(p),    Mid8(p),        Lo8(p),
                                        BlockSize, ByteModeParam1, ByteModeParam2};
        std::memcpy(frame + 6, data, BlockSize);
        SendFrame(CmdWriteFlash, frame, sizeof frame);
        if (!ReadBackMatches(CmdReadFlash, p, data)) {
            DumpMismatch(data, Reply, p, BlockSize);
            return false;
        }
    }
    p += BlockSize;
    return true;
}

bool TIspLink::ProgramFlashPage(int32_t& p) {
    const int32_t pageSize = Device.PageSize;
    if (IsBlank(FlashImage + p, pageSize)) {
        p += pageSize;
        return true;
    }
    for (int32_t o = 0; o < pageSize; o += BlockSize) {
        const int32_t a = p + o;
        Now.Address = a;
        uint8_t frame[6 + BlockSize] = {Hi8(a),    Mid8(a),        Lo8(a),
                                        BlockSize, PageModeParam1, PageModeParam2};
        std::memcpy(frame + 6, FlashImage + a, BlockSize);
        SendFrame(CmdWriteFlash, frame, sizeof frame);
    }
    if (Device.FlashSize > ExtendedAddressLimit)
        IspCommand(0x4D, 0x00, p >= ExtendedAddressLimit ? 1 : 0, 0x00, 0);
    Now.Address = p;
    const uint8_t store[] = {Hi8(p), Mid8(p), Lo8(p), StoreParam1, StoreParam2, FlashImage[p]};
    SendFrame(CmdStorePage, store, sizeof store);
    for (int32_t o = 0; o < pageSize; o += BlockSize) {
        const int32_t a = p + o;
        if (!ReadBackMatches(CmdReadFlash, a, FlashImage + a)) {
            DumpMismatch(FlashImage + a, Reply, a, BlockSize);
            return false;
        }
    }
    p += pageSize;
    return true;
}

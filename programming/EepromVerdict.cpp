#include "programming/EepromVerdict.h"

#include <algorithm>
#include <cstring>

#include "link/ImageBuffer.h"

namespace {
bool IsBlank(const uint8_t* bytes, std::size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == isp::Blank; });
}

bool Holds(const uint8_t* eeprom, std::size_t size, const std::vector<uint8_t>& copy) {
    return copy.size() == size && std::memcmp(eeprom, copy.data(), size) == 0;
}
}  // namespace

bool FitsInterruptedWriteBack(const uint8_t* eeprom, std::size_t size,
                              const std::vector<uint8_t>& copy) {
    if (copy.size() != size) return false;
    std::size_t used = size;  // one past the last non-blank byte
    while (used > 0 && eeprom[used - 1] == isp::Blank) --used;
    return std::memcmp(eeprom, copy.data(), used) == 0;
}

EepromVerdict JudgeEeprom(const uint8_t* eeprom, std::size_t size, const std::string& chip,
                          const std::vector<PendingContent>& pending) {
    EepromVerdict v;
    v.DeviceBlank = IsBlank(eeprom, size);
    std::vector<const PendingContent*> fits;
    for (const PendingContent& p : pending) {
        if (p.Copy.Chip != chip || !FitsInterruptedWriteBack(eeprom, size, p.Bytes)) continue;
        if (Holds(eeprom, size, p.Bytes) && v.DeviceBlank)
            v.Settled.push_back(p.Copy);  // a blank copy: nothing of it can be lost
        else
            fits.push_back(&p);
    }
    if (fits.empty()) return v;
    const bool allAlike = std::all_of(fits.begin(), fits.end(), [&](const PendingContent* p) {
        return p->Bytes == fits.front()->Bytes;
    });
    if (v.DeviceBlank || !allAlike) {
        v.Decision = EepromVerdict::Ask;
        for (const PendingContent* p : fits) v.Candidates.push_back(p->Copy);
    } else if (Holds(eeprom, size, fits.front()->Bytes)) {
        for (const PendingContent* p : fits) v.Settled.push_back(p->Copy);
    } else {
        v.Decision = EepromVerdict::Restore;
        v.Candidates.push_back(fits.front()->Copy);
        for (const PendingContent* p : fits) v.Settled.push_back(p->Copy);
    }
    return v;
}

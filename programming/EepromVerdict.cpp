#include "programming/EepromVerdict.h"

#include <algorithm>
#include <cstring>

#include "link/ImageBuffer.h"

namespace {
constexpr std::size_t Block = 32;  // the write-back's unit: one 'w' frame

bool IsBlank(const uint8_t* bytes, std::size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == isp::Blank; });
}

bool Holds(const uint8_t* eeprom, std::size_t size, const std::vector<uint8_t>& copy) {
    return copy.size() == size && std::memcmp(eeprom, copy.data(), size) == 0;
}

// Whether 'other' may be a copy of the unit whose copy is 'own', so that what it shares with
// the device says nothing about another board:
// - the copy itself, and copies with the same content (the unit's copies of other updates);
// - copies that hold only the first blocks of 'own', blank after, saved after 'own's content
//   first reached this machine ('since'): what runs read from the unit's half-restored device
//   after an interrupted write-back and kept as their own copies.
// Every other copy came from a device that held data 'own' never had: another unit (or this
// one at a time its data differed, which makes the rule ask where it need not, never the
// other way round).
bool MayBeSameUnit(const KnownCopy& other, const PendingContent& own,
                   std::chrono::system_clock::time_point since) {
    if (other.Path == own.Copy.Path || other.Bytes == own.Bytes) return true;
    return other.Saved >= since &&
           FitsInterruptedWriteBack(other.Bytes.data(), other.Bytes.size(), own.Bytes);
}

bool SameBlock(const uint8_t* a, const std::vector<uint8_t>& b, std::size_t at) {
    return b.size() > at && std::memcmp(a + at, b.data() + at, Block) == 0;
}
}  // namespace

bool FitsInterruptedWriteBack(const uint8_t* eeprom, std::size_t size,
                              const std::vector<uint8_t>& copy) {
    if (copy.size() != size) return false;
    std::size_t used = size;  // one past the last non-blank byte
    while (used > 0 && eeprom[used - 1] == isp::Blank) --used;
    // The write-back writes whole blocks: the block holding the last non-blank byte is the
    // copy's whole block, or the device is not what the write-back left.
    const std::size_t written = std::min(size, (used + Block - 1) / Block * Block);
    return std::memcmp(eeprom, copy.data(), written) == 0;
}

// The rule for "nothing a fresh board could equally hold". What a fresh board holds is only
// known from the boards updated here: the data folder keeps the EEPROM copy of every unit
// this machine ever updated, so a block that such a copy of another unit holds at the same
// address (a header every board carries, a default table) may be on any board and is no
// evidence of this unit. The device is taken for the unit of 'copy' only when
// - it holds at least two non-blank blocks: one block alone is what a header is, and a board
//   may carry one even where no board updated here did; and
// - one of its non-blank blocks is held at that address by no copy of another unit (which
//   copies count as another unit's is said at MayBeSameUnit).
// Without copies of other units every block but a lone one is evidence: nothing known says
// that boards share it.
bool HoldsEvidenceOf(const uint8_t* eeprom, std::size_t size, const PendingContent& copy,
                     const std::vector<KnownCopy>& known) {
    std::size_t dataBlocks = 0;
    for (std::size_t at = 0; at + Block <= size; at += Block)
        dataBlocks += IsBlank(eeprom + at, Block) ? 0 : 1;
    if (dataBlocks < 2) return false;
    auto since = copy.Copy.Time;
    for (const KnownCopy& k : known)
        if (k.Bytes == copy.Bytes) since = std::min(since, k.Saved);
    std::vector<const KnownCopy*> others;
    for (const KnownCopy& k : known)
        if (k.Bytes.size() == size && !MayBeSameUnit(k, copy, since)) others.push_back(&k);
    for (std::size_t at = 0; at + Block <= size; at += Block) {
        if (IsBlank(eeprom + at, Block)) continue;
        const bool shared = std::any_of(others.begin(), others.end(), [&](const KnownCopy* o) {
            return SameBlock(eeprom, o->Bytes, at);
        });
        if (!shared) return true;
    }
    return false;
}

EepromVerdict JudgeEeprom(const uint8_t* eeprom, std::size_t size, const std::string& chip,
                          const std::vector<PendingContent>& pending,
                          const std::vector<KnownCopy>& known) {
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
    // Pending copies are copies of units too, whether they fit or not.
    std::vector<KnownCopy> all = known;
    for (const PendingContent& p : pending)
        if (p.Copy.Chip == chip) all.push_back({p.Copy.Path, p.Bytes, p.Copy.Time});
    if (v.DeviceBlank || !allAlike) {
        v.Decision = EepromVerdict::Ask;
        for (const PendingContent* p : fits) v.Candidates.push_back(p->Copy);
        return v;
    }
    const bool evidence = HoldsEvidenceOf(eeprom, size, *fits.front(), all);
    if (Holds(eeprom, size, fits.front()->Bytes)) {
        // The device holds the whole copy: this run writes the same bytes whichever board it
        // is. Only a device that is surely that unit takes the marks away.
        if (evidence)
            for (const PendingContent* p : fits) v.Settled.push_back(p->Copy);
    } else if (!evidence) {
        v.Decision = EepromVerdict::Ask;
        v.DeviceCommon = true;
        for (const PendingContent* p : fits) v.Candidates.push_back(p->Copy);
    } else {
        v.Decision = EepromVerdict::Restore;
        v.Candidates.push_back(fits.front()->Copy);
        for (const PendingContent* p : fits) v.Settled.push_back(p->Copy);
    }
    return v;
}

#include "programming/InstalledFirmware.h"

#include <algorithm>
#include <cstdio>

#include "image/CheckValue.h"
#include "image/FirmwareId.h"
#include "image/ImageLoader.h"
#include "link/ImageBuffer.h"
#include "programming/NumberText.h"
#include "programming/RunPreflight.h"
#include "programming/StampedImage.h"

namespace {
std::string Hex(const char* layout, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, layout, value);
    return text;
}

std::string FailureText(const EProgError& e) {
    return GetErrorText(e.Code) + (e.Detail.empty() ? "" : " (" + e.Detail + ")");
}

// The firmware file as an update would program it, compared with the flash. Gives the
// length the update would stamp at, 0 when the file could not be loaded.
int32_t CompareWithFile(const uint8_t* flash, const DeviceEntry& chip, const KnownFirmware& item,
                        ItemCheck& check) {
    const FlashImageBuffer image;
    try {
        const StampedImage stamped =
            LoadStampedImage(item.FirmwarePath, item.ApplicationLength, chip, image.Data());
        const auto at = std::mismatch(flash, flash + chip.FlashSize, image.Data());
        check.File = at.first == flash + chip.FlashSize ? ItemCheck::Same : ItemCheck::Differs;
        if (check.File == ItemCheck::Differs)
            check.FirstDifference = static_cast<int32_t>(at.first - flash);
        return stamped.Length;
    } catch (const EProgError& e) {
        check.File = ItemCheck::Unreadable;
        check.FileProblem = FailureText(e);
        return 0;
    }
}

// The catalogue's length where it is a usable number, else the length the file gives.
void CheckValueAt(const uint8_t* flash, const DeviceEntry& chip, int32_t fileLength,
                  const KnownFirmware& item, ItemCheck& check) {
    int32_t length = fileLength;
    if (const auto number = ParseNumber(item.ApplicationLength)) {
        length = *number;
        if (length < MinApplicationLength || length > chip.FlashSize) {
            check.NotChecked = "application length " + item.ApplicationLength + " is outside the " +
                               chip.Name + "'s flash";
            return;
        }
    }
    if (length == 0) {
        check.NotChecked =
            "no application length: the catalogue gives none and the firmware "
            "file cannot be read";
        return;
    }
    check.Length = length;
    check.Computed = CheckValueOf(flash, static_cast<std::size_t>(length - 2));
    check.Stored = StoredCheckValue(flash, static_cast<uint32_t>(length));
    check.Valid = check.Computed == check.Stored;
}

int Rank(const ItemCheck& c) {
    if (c.Length == 0) return 2;
    if (!c.Valid) return 3;
    return c.File == ItemCheck::Same ? 0 : 1;
}

std::string ItemLabel(int item, const std::string& pattern) {
    return "item " + std::to_string(item) + " (" + pattern + ")";
}
}  // namespace

void SurveyFlash(const uint8_t* flash, const DeviceEntry& chip,
                 const std::vector<KnownFirmware>& items, DeviceReadout& readout) {
    const int32_t size = chip.FlashSize;
    readout.LastNonBlank = -1;
    for (int32_t i = size - 1; i >= 0; --i)
        if (flash[i] != isp::Blank) {
            readout.LastNonBlank = i;
            break;
        }
    readout.FlashErased = readout.LastNonBlank < 0;
    readout.Identifiers.clear();
    readout.Checks.clear();
    if (readout.FlashErased) return;
    for (const KnownFirmware& item : items) {
        if (item.Pattern.size() < FirmwareIdLength) continue;  // matches nothing
        const std::string app = FindFirmwareId(flash, size, item.Pattern, size);
        // An item may be a bootloader of its own ("*" in its pattern).
        const bool bootItem = item.Pattern[3] == BootloaderMarker;
        if (!app.empty()) readout.Identifiers.push_back({item.Item, item.Pattern, bootItem, app});
        const std::string bootPattern = BootloaderPattern(item.Pattern);
        if (!bootPattern.empty()) {
            const std::string boot = FindFirmwareId(flash, size, bootPattern, size);
            if (!boot.empty()) readout.Identifiers.push_back({item.Item, bootPattern, true, boot});
        }
        if (app.empty()) continue;
        ItemCheck check;
        check.Item = item.Item;
        check.Name = item.Name;
        check.Identifier = app;
        const int32_t fileLength = CompareWithFile(flash, chip, item, check);
        CheckValueAt(flash, chip, fileLength, item, check);
        readout.Checks.push_back(std::move(check));
    }
}

const ItemCheck* BestCheck(const DeviceReadout& r) {
    if (r.Checks.empty()) return nullptr;
    return &*std::min_element(
        r.Checks.begin(), r.Checks.end(),
        [](const ItemCheck& a, const ItemCheck& b) { return Rank(a) < Rank(b); });
}

std::string FlashVerdict(const DeviceReadout& r) {
    if (r.FlashErased) return "erased";
    const ItemCheck* found = BestCheck(r);
    if (!found) {
        for (const FoundIdentifier& f : r.Identifiers)
            if (f.Bootloader)
                return "bootloader identifier " + f.Text +
                       " found, no application identifier of this catalogue";
        return "no identifier of this catalogue found";
    }
    const ItemCheck& best = *found;
    if (best.Length == 0)
        return "identifier " + best.Identifier +
               " found, check value not checked: " + best.NotChecked;
    if (!best.Valid)
        return "identifier " + best.Identifier +
               " found, check value wrong: an interrupted or damaged update";
    std::string verdict = "installed: item " + std::to_string(best.Item) + " " + best.Name + ", " +
                          best.Identifier + ", check value valid";
    switch (best.File) {
        case ItemCheck::Same:
            return verdict + ", same as its firmware file";
        case ItemCheck::Differs:
            return verdict + ", differs from its firmware file from " +
                   Hex("0x%04X", static_cast<unsigned>(best.FirstDifference)) + " on";
        case ItemCheck::Unreadable:
            return verdict + ", its firmware file cannot be read";
        default:
            return verdict;
    }
}

std::vector<std::string> SurveyLines(const DeviceReadout& r, int32_t flashSize) {
    std::vector<std::string> lines;
    if (r.FlashErased) return {"flash: erased"};
    lines.push_back("flash: last non-blank byte at " +
                    Hex("0x%04X", static_cast<unsigned>(r.LastNonBlank)) + " of " +
                    std::to_string(flashSize) + " bytes");
    for (const FoundIdentifier& f : r.Identifiers)
        lines.push_back(std::string(f.Bootloader ? "bootloader" : "application") +
                        " identifier of " + ItemLabel(f.Item, f.Pattern) + ": " + f.Text);
    for (const ItemCheck& c : r.Checks) {
        const std::string item = "item " + std::to_string(c.Item) + ": ";
        if (c.Length == 0)
            lines.push_back(item + "check value not checked: " + c.NotChecked);
        else
            lines.push_back(
                item + "check value " + Hex("0x%04X", c.Stored) + " at " +
                Hex("0x%04X", static_cast<unsigned>(c.Length - 2)) + " (application length " +
                std::to_string(c.Length) + ") " +
                (c.Valid ? "valid"
                         : "wrong, the application computes to " + Hex("0x%04X", c.Computed)));
        if (c.File == ItemCheck::Same)
            lines.push_back(item + "same as its firmware file");
        else if (c.File == ItemCheck::Differs)
            lines.push_back(item + "differs from its firmware file from " +
                            Hex("0x%04X", static_cast<unsigned>(c.FirstDifference)) + " on");
        else if (c.File == ItemCheck::Unreadable)
            lines.push_back(item + "its firmware file cannot be read: " + c.FileProblem);
    }
    if (r.Identifiers.empty()) lines.push_back("flash: no identifier of this catalogue found");
    return lines;
}

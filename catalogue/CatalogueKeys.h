#pragma once
// Section and key names of the catalogue.

#include <string>

// Items are the sections ITEM_1 to ITEM_99, numbers written without leading zeros.
constexpr int FirstItemNumber = 1;
constexpr int LastItemNumber = 99;
// Description lines Info_en_<k> / Info_ge_<k> and notes Info_<k>, k = 1 to 99.
constexpr int FirstInfoLine = 1;
constexpr int LastInfoLine = 99;

constexpr char NotesSection[] = "VERSION";

constexpr char NameKey[] = "NAME";
constexpr char GroupKey[] = "GROUP";
constexpr char IdentifierKey[] = "VERSION";
constexpr char FirmwareKey[] = "Firmware";
constexpr char ImageKey[] = "Image";
constexpr char HomepageKey[] = "Homepage";

inline std::string ItemSection(int itemNumber) {
    return "ITEM_" + std::to_string(itemNumber);
}

#pragma once
// One key of a catalogue file's bytes, whatever their encoding, as UTF-8.

#include <optional>
#include <string>
#include <string_view>

// The value of key in section, decoded and cut, or nothing when the key is not there.
// The same as looking the key up in DecodeCatalogueText(fileBytes), only without decoding
// the whole file for every read.
std::optional<std::string> FindCatalogueValue(std::string_view fileBytes, std::string_view section,
                                              std::string_view key);

#pragma once
// Text lines kept as numbered keys: an item's description and the catalogue's notes.

#include <string>
#include <vector>

class Catalogue;

// Info_<language>_1 .. Info_<language>_99 of the item ("en" or "ge"). A key present with an
// empty value gives an empty line; a missing key gives none, and the later lines still follow.
std::vector<std::string> DescriptionLines(const Catalogue& catalogue, int itemNumber,
                                          const std::string& language);
// Info_1 .. Info_99 of the VERSION section, by the same rule.
std::vector<std::string> NoteLines(const Catalogue& catalogue);

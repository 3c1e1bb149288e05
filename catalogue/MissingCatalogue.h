#pragma once
// What a first start says when there is no catalogue to read: which file was expected and how
// to put one in place.

#include <string>
#include <vector>

class Catalogue;

// Empty when the catalogue can be read. programFolder holds Firmware/ and Images/.
std::vector<std::string> MissingCatalogueNote(const Catalogue& catalogue,
                                              const std::string& programFolder);

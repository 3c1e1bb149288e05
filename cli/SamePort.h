#pragma once
// A port named twice on one command line (ttyUSB0 and /dev/ttyUSB0, or a name under
// /dev/serial/by-id/ for it) must not be updated by two runs: the first name updates it,
// and every later one fails as a port that another run holds.

#include <optional>
#include <string>
#include <vector>

#include "programming/LinkFactory.h"

// For each port, the index of an earlier one naming the same device; nothing for the first.
std::vector<std::optional<std::size_t>> EarlierSamePort(const std::vector<std::string>& ports);

// How the screen names each port: as given, with " (2)", " (3)" ... after a name given
// before, so that the lines of its runs can be told apart.
std::vector<std::string> PortLabels(const std::vector<std::string>& ports);

// Links whose port is held already: opening it fails with "Port already in use?" and the
// explanation that 'first' names it too.
LinkFactory HeldPortLinks(const std::string& port, const std::string& first);

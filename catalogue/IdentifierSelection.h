#pragma once
// Which tree items a firmware identifier selects, given on the command line or sent by
// another program.

#include <string_view>

// Characters 1, 2, 3 and 5 equal byte for byte. The variant marker in 4 and anything after 5
// are ignored on both sides, so AB1x5 selects AB1+5, AB175 and AB1*5. A side with fewer than
// five characters never matches.
bool IdentifierSelects(std::string_view wanted, std::string_view identifier);

#pragma once
// Case-blind comparison of catalogue names and values.

#include <string_view>

// Equal without regard to the case of ASCII letters. Section and key names, chip names and
// the group word "Production" are ASCII, so this is what the user's locale would say too.
bool EqualNoCase(std::string_view a, std::string_view b);

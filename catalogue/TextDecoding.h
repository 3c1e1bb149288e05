#pragma once
// Catalogues are edited on Windows as well as on Linux: their bytes arrive as UTF-8 (with or
// without a byte-order mark) or in the Windows-1252 code page. Everything inside the program
// works on UTF-8.

#include <string>
#include <string_view>

// True when the bytes form well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Windows-1252 bytes as UTF-8.
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-8 text of a catalogue file: valid UTF-8 loses its byte-order mark, anything else is
// taken as Windows-1252 and converted.
std::string DecodeCatalogueText(std::string bytes);

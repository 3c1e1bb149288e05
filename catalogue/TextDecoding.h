#pragma once
// Catalogues are edited on Windows as well as on Linux: their bytes arrive as UTF-8 (with or
// without a byte-order mark), as UTF-16 with a byte-order mark (what Windows editors save as
// "Unicode"), or in the Windows-1252 code page. Everything inside the program works on UTF-8.

#include <string>
#include <string_view>

// True when the bytes form well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Windows-1252 bytes as UTF-8.
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-8 with each byte that is not part of a well-formed sequence replaced by U+FFFD.
std::string Utf8WithReplacements(std::string_view bytes);

// UTF-16 code units (without a byte-order mark) as UTF-8; unpaired surrogates and an odd last
// byte become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

enum class CatalogueEncoding {
    Utf8,         // valid UTF-8, with or without a byte-order mark
    DamagedUtf8,  // a UTF-8 byte-order mark before bytes that are not all UTF-8
    Utf16Le,      // byte-order mark FF FE
    Utf16Be,      // byte-order mark FE FF
    Windows1252,  // everything else
};

// How a catalogue's bytes are read: a byte-order mark decides; without one, bytes that are
// valid UTF-8 are UTF-8, all others Windows-1252. UTF-16 without a mark is not recognised.
CatalogueEncoding DetectCatalogueEncoding(std::string_view bytes);

// UTF-8 text of a catalogue file, without its byte-order mark. Text that is not valid in the
// encoding its mark declares keeps its readable parts, with U+FFFD for the rest.
std::string DecodeCatalogueText(std::string bytes);

#pragma once
// Lookup of one key in the text of an INI file, with the reading rules the catalogue
// relies on:
//   - "[name]" opens a section; "key = value" sets a key in the current section;
//   - lines whose first non-blank character is ";" are comments, other lines are skipped;
//   - section and key names match without regard to case;
//   - blanks around names and values do not count; one pair of enclosing double or single
//     quotes is removed from a value;
//   - where a section or a key occurs twice, the first occurrence counts;
//   - values are cut after MaxIniValueChars characters (CutIniValue);
//   - lines end with LF, CRLF or CR.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Longest value a read returns, in characters (Unicode code points).
constexpr std::size_t MaxIniValueChars = 2047;

// The value of key in section, trimmed and unquoted but not yet cut, or nothing when the key
// is not there. Only ASCII letters fold case, so this works on UTF-8 and on single-byte text.
std::optional<std::string_view> FindIniValue(std::string_view text, std::string_view section,
                                             std::string_view key);

// A UTF-8 value cut after MaxIniValueChars characters, never inside a character.
std::string CutIniValue(std::string_view utf8);

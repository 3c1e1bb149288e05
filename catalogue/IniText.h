#pragma once
// The keys of an INI file's text, read by the rules the catalogue relies on:
//   - "[name]" opens a section; "key = value" sets a key in the current section;
//   - lines whose first non-blank character is ";" are comments, other lines are skipped;
//   - section and key names match without regard to case;
//   - blanks around names and values do not count; one pair of enclosing double or single
//     quotes is removed from a value;
//   - where a section or a key occurs twice, the first occurrence counts;
//   - values are cut after MaxIniValueChars characters;
//   - lines end with LF, CRLF or CR.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

// Longest value a read returns, in characters (Unicode code points).
constexpr std::size_t MaxIniValueChars = 2047;

// Every key of the text, parsed once; lookups need no further pass over the text.
class IniSections {
public:
    // The value of key in section, or nullptr when the key is not there.
    const std::string* Find(std::string_view section, std::string_view key) const;

    // The text's sections, each with its keys. Only ASCII letters fold case, so this works
    // on UTF-8 and on single-byte text alike.
    static IniSections Parse(std::string_view text);

private:
    using Keys = std::unordered_map<std::string, std::string>;  // folded name -> value
    std::unordered_map<std::string, Keys> Sections;             // folded name -> keys
};

// A UTF-8 value cut after MaxIniValueChars characters, never inside a character.
std::string CutIniValue(std::string_view utf8);

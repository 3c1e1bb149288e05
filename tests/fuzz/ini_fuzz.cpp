// Catalogue files of any bytes: decoding, parsing and key lookup must neither crash nor break
// their promises (UTF-8 out, values on one line, at most 2047 characters).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/IniText.h"
#include "catalogue/TextDecoding.h"

namespace {
void Require(bool ok) {
    if (!ok) __builtin_trap();
}

std::size_t CodePoints(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

void CheckLookup(const IniSections& keys, std::string_view section, std::string_view key) {
    const std::string* value = keys.Find(section, key);
    if (!value) return;
    Require(IsValidUtf8(*value));
    Require(value->find_first_of("\r\n") == std::string::npos);
    Require(CodePoints(*value) <= MaxIniValueChars);
}

// The first line names the section, the second the key: lets the fuzzer steer the lookup,
// also to names outside ASCII.
std::string_view Line(std::string_view text, std::size_t index) {
    for (std::size_t i = 0; i < index; ++i) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return {};
        text.remove_prefix(end + 1);
    }
    return text.substr(0, text.find('\n'));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = DecodeCatalogueText(std::string(bytes));
    Require(IsValidUtf8(text));
    if (IsValidUtf8(bytes) && bytes.substr(0, 3) != "\xEF\xBB\xBF") Require(text == bytes);
    const IniSections keys = IniSections::Parse(text);
    CheckLookup(keys, "ITEM_1", "NAME");
    CheckLookup(keys, "VERSION", "Info_1");
    CheckLookup(keys, Line(text, 0), Line(text, 1));
    return 0;
}

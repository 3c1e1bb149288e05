// Catalogue files of any bytes: decoding and key lookup must neither crash nor break their
// promises (UTF-8 out, values on one line, at most 2047 characters), and the lookup on the
// raw bytes must agree with a lookup in the fully decoded text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/CatalogueText.h"
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

void CheckLookup(std::string_view bytes, const std::string& text, std::string_view section,
                 std::string_view key) {
    const std::optional<std::string> value = FindCatalogueValue(bytes, section, key);
    const std::optional<std::string_view> reference = FindIniValue(text, section, key);
    Require(value.has_value() == reference.has_value());
    if (!value) return;
    Require(*value == CutIniValue(*reference));
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
    CheckLookup(bytes, text, "ITEM_1", "NAME");
    CheckLookup(bytes, text, "VERSION", "Info_1");
    CheckLookup(bytes, text, Line(text, 0), Line(text, 1));
    return 0;
}

#include "catalogue/CatalogueText.h"

#include <algorithm>

#include "catalogue/IniText.h"
#include "catalogue/TextDecoding.h"

namespace {
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<std::string> Decoded(std::optional<std::string_view> value, bool windows1252) {
    if (!value) return std::nullopt;
    return CutIniValue(windows1252 ? Windows1252ToUtf8(*value) : std::string(*value));
}
}  // namespace

std::optional<std::string> FindCatalogueValue(std::string_view fileBytes, std::string_view section,
                                              std::string_view key) {
    switch (DetectCatalogueEncoding(fileBytes)) {
        case CatalogueEncoding::Utf8:
            if (fileBytes.substr(0, Utf8ByteOrderMark.size()) == Utf8ByteOrderMark)
                fileBytes.remove_prefix(Utf8ByteOrderMark.size());
            return Decoded(FindIniValue(fileBytes, section, key), false);
        case CatalogueEncoding::Windows1252:
            // Every ASCII character is its own byte and every other byte decodes to a
            // non-ASCII character, so ASCII names find the same line in the raw bytes.
            if (IsAscii(section) && IsAscii(key))
                return Decoded(FindIniValue(fileBytes, section, key), true);
            break;
        default:
            break;
    }
    const std::string text = DecodeCatalogueText(std::string(fileBytes));
    return Decoded(FindIniValue(text, section, key), false);
}

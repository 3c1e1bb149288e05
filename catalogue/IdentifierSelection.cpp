#include "catalogue/IdentifierSelection.h"

#include <cstddef>

namespace {
constexpr std::size_t IdentifierLength = 5;
constexpr std::size_t VariantPosition = 3;
}  // namespace

bool IdentifierSelects(std::string_view wanted, std::string_view identifier) {
    if (wanted.size() < IdentifierLength || identifier.size() < IdentifierLength) return false;
    for (std::size_t i = 0; i < IdentifierLength; ++i)
        if (i != VariantPosition && wanted[i] != identifier[i]) return false;
    return true;
}

#include "catalogue/LocaleOrder.h"

#include <locale>
#include <stdexcept>

namespace {
std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}
}  // namespace

TextLess UserLocaleLess() {
    const std::locale loc = UserLocale();
    return [loc](const std::string& a, const std::string& b) {
        const auto& collate = std::use_facet<std::collate<char>>(loc);
        return collate.compare(a.data(), a.data() + a.size(), b.data(), b.data() + b.size()) < 0;
    };
}

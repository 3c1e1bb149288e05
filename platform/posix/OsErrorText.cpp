#include "link/OsErrorText.h"

#include <cstring>

namespace {
// strerror_r comes in two forms; each gives its text its own way.
[[maybe_unused]] const char* TextOf(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* TextOf(const char* result, const char*) {
    return result;
}
}  // namespace

std::string OsErrorText(int err) {
    char buffer[256] = {};
    return TextOf(strerror_r(err, buffer, sizeof buffer), buffer);
}

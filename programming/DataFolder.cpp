#include "programming/DataFolder.h"

#include <cstdio>
#include <ctime>

#include "platform/CalendarTime.h"

namespace {
std::string Format(std::chrono::system_clock::time_point t, bool utc, const char* layout,
                   const char* millisLayout) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    const std::tm tm = utc ? UtcCalendar(secs) : LocalCalendar(secs);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, layout, &tm);
    std::snprintf(text + n, sizeof text - n, millisLayout, static_cast<int>(ms));
    return text;
}
}  // namespace

std::string FileTimeStamp(std::chrono::system_clock::time_point t) {
    return Format(t, false, "%Y%m%d-%H%M%S", "-%03d");
}

std::string IsoTimeStamp(std::chrono::system_clock::time_point t) {
    return Format(t, true, "%Y-%m-%dT%H:%M:%S", ".%03dZ");
}

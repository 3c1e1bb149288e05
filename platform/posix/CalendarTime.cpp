#include "platform/CalendarTime.h"

std::tm LocalCalendar(std::time_t secs) {
    std::tm tm{};
    localtime_r(&secs, &tm);
    return tm;
}

std::time_t FromUtcCalendar(std::tm tm) {
    return timegm(&tm);
}

std::tm UtcCalendar(std::time_t secs) {
    std::tm tm{};
    gmtime_r(&secs, &tm);
    return tm;
}

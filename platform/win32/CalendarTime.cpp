#include "platform/CalendarTime.h"

std::tm LocalCalendar(std::time_t secs) {
    std::tm tm{};
    localtime_s(&tm, &secs);
    return tm;
}

std::time_t FromUtcCalendar(std::tm tm) {
    return _mkgmtime(&tm);
}

std::tm UtcCalendar(std::time_t secs) {
    std::tm tm{};
    gmtime_s(&tm, &secs);
    return tm;
}

#include "ledger/UtcTime.h"

#include <cstdio>
#include <ctime>

#include "platform/CalendarTime.h"

namespace {
using std::chrono::milliseconds;

// The fields of "YYYY-MM-DD[(T| )HH:MM[:SS[.mmm]]]" and what follows them.
struct TimeFields {
    std::tm Tm{};
    int Millis = 0;
    bool HasTime = false;
    std::string Rest;  // "Z", "+01:00", or empty
};

bool Digits(const std::string& s, std::size_t at, std::size_t n, int& value) {
    if (at + n > s.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

bool ReadFields(const std::string& s, TimeFields& f) {
    int year = 0, month = 0, day = 0;
    if (!Digits(s, 0, 4, year) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, month) ||
        s[7] != '-' || !Digits(s, 8, 2, day))
        return false;
    std::size_t at = 10;
    int hour = 0, minute = 0, second = 0;
    if (at < s.size() && (s[at] == 'T' || s[at] == ' ')) {
        if (!Digits(s, at + 1, 2, hour) || at + 3 >= s.size() || s[at + 3] != ':' ||
            !Digits(s, at + 4, 2, minute))
            return false;
        at += 6;
        f.HasTime = true;
        if (at < s.size() && s[at] == ':') {
            if (!Digits(s, at + 1, 2, second)) return false;
            at += 3;
            if (at < s.size() && s[at] == '.') {
                if (!Digits(s, at + 1, 3, f.Millis)) return false;
                at += 4;
            }
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    f.Tm.tm_year = year - 1900;
    f.Tm.tm_mon = month - 1;
    f.Tm.tm_mday = day;
    f.Tm.tm_hour = hour;
    f.Tm.tm_min = minute;
    f.Tm.tm_sec = second;
    f.Rest = s.substr(at);
    return true;
}

// "+01:00", "-0530", "+02": the offset east of UTC in seconds.
bool ReadOffset(const std::string& s, long& seconds) {
    if (s.size() < 3 || (s[0] != '+' && s[0] != '-')) return false;
    int hours = 0, minutes = 0;
    if (!Digits(s, 1, 2, hours)) return false;
    const std::string tail = s.substr(3);
    if (!tail.empty()) {
        const std::size_t at = tail[0] == ':' ? 1 : 0;
        if (tail.size() != at + 2 || !Digits(tail, at, 2, minutes)) return false;
    }
    if (hours > 23 || minutes > 59) return false;
    seconds = (s[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
    return true;
}

LedgerClock::time_point FromUtc(std::tm tm, int millis, long offsetSeconds) {
    const std::time_t secs = FromUtcCalendar(tm) - offsetSeconds;
    return LedgerClock::from_time_t(secs) + milliseconds(millis);
}

// Local time as the machine's zone has it that day (summer time included).
std::optional<LedgerClock::time_point> FromLocal(std::tm tm, int millis) {
    tm.tm_isdst = -1;
    const std::time_t secs = std::mktime(&tm);
    if (secs == static_cast<std::time_t>(-1)) return std::nullopt;
    return LedgerClock::from_time_t(secs) + milliseconds(millis);
}

std::optional<LedgerClock::time_point> LocalMidnight(LedgerClock::time_point t, int daysBack) {
    const std::time_t secs = LedgerClock::to_time_t(t);
    std::tm tm = LocalCalendar(secs);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_mday -= daysBack;
    return FromLocal(tm, 0);
}
}  // namespace

std::string UtcText(LedgerClock::time_point t) {
    const auto ms = std::chrono::floor<milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    const int millis = static_cast<int>(((ms % 1000) + 1000) % 1000);
    const std::tm tm = UtcCalendar(secs);
    char text[96];  // room for any int the fields could hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return text;
}

std::optional<LedgerClock::time_point> ParseUtcText(const std::string& text) {
    TimeFields f;
    if (!ReadFields(text, f) || !f.HasTime || f.Rest != "Z") return std::nullopt;
    return FromUtc(f.Tm, f.Millis, 0);
}

std::optional<LedgerClock::time_point> ParseReportTime(const std::string& text,
                                                       LedgerClock::time_point now) {
    if (text == "today") return LocalMidnight(now, 0);
    if (text == "yesterday") return LocalMidnight(now, 1);
    TimeFields f;
    if (!ReadFields(text, f)) return std::nullopt;
    if (f.Rest.empty()) return FromLocal(f.Tm, f.Millis);
    if (f.Rest == "Z") return FromUtc(f.Tm, f.Millis, 0);
    long offset = 0;
    if (!ReadOffset(f.Rest, offset)) return std::nullopt;
    return FromUtc(f.Tm, f.Millis, offset);
}

#include "programming/EepromQuestion.h"

#include <ctime>

std::string QuestionDate(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

std::string CandidateQuestion(const EepromQuestion& q, const PendingCopy& c) {
    const std::string date = QuestionDate(c.Time);
    if (q.DeviceBlank)
        return "This device's EEPROM is empty. An update of an " + c.Chip +
               " was interrupted after its erase on " + date + "; its EEPROM is in " + c.Path +
               ". Is this that device?";
    return "This device's EEPROM holds the first part of the EEPROM of an " + c.Chip +
           " whose update was interrupted after its erase on " + date + "; its EEPROM is in " +
           c.Path + ". Is this that device?";
}

std::string DescribeCandidates(const EepromQuestion& q) {
    std::string list;
    for (const PendingCopy& c : q.Candidates)
        list += (list.empty() ? "" : ", ") + c.Path + " (" + QuestionDate(c.Time) + ")";
    if (q.DeviceBlank && q.Candidates.size() == 1) return CandidateQuestion(q, q.Candidates[0]);
    if (q.DeviceBlank)
        return "This device's EEPROM is empty. Updates of an " + q.Chip +
               " were interrupted after their erase; their EEPROM copies are " + list + ".";
    return "This device's EEPROM holds the first part of more than one EEPROM copy that "
           "interrupted updates of an " +
           q.Chip + " left: " + list + ".";
}

#include "programming/EepromQuestion.h"

#include <ctime>

#include "platform/CalendarTime.h"

std::string QuestionDate(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const std::tm tm = LocalCalendar(secs);
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
    if (q.DeviceCommon)
        return "This device's EEPROM holds the first part of the EEPROM of an " + c.Chip +
               " whose update was interrupted after its erase on " + date + "; its EEPROM is in " +
               c.Path +
               ". A board that never had that EEPROM could hold the same bytes (other boards "
               "updated here do, or it is a single block, as a header is). Is this that device?";
    return "This device's EEPROM holds the first part of the EEPROM of an " + c.Chip +
           " whose update was interrupted after its erase on " + date + "; its EEPROM is in " +
           c.Path + ". Is this that device?";
}

std::string AnswerChoices(bool last) {
    return std::string("Yes: write this copy into the device\n") +
           (last ? "No: keep what the device holds\n"
                 : "No: not this copy; ask about the next one\n") +
           "Cancel: stop before anything is erased";
}

std::string DescribeCandidates(const EepromQuestion& q) {
    std::string list;
    for (const PendingCopy& c : q.Candidates)
        list += (list.empty() ? "" : ", ") + c.Path + " (" + QuestionDate(c.Time) + ")";
    if (q.Candidates.size() == 1) return CandidateQuestion(q, q.Candidates[0]);
    if (q.DeviceBlank)
        return "This device's EEPROM is empty. Updates of an " + q.Chip +
               " were interrupted after their erase; their EEPROM copies are " + list + ".";
    return "This device's EEPROM holds the first part of more than one EEPROM copy that "
           "interrupted updates of an " +
           q.Chip + " left: " + list + ".";
}

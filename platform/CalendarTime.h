#pragma once
// A moment as calendar fields, in local time or UTC. Several updates run at once in one
// process, so the fields come into the caller's own std::tm, never from a shared one.

#include <ctime>

std::tm LocalCalendar(std::time_t secs);
std::tm UtcCalendar(std::time_t secs);
// The moment of UTC calendar fields (normalised as mktime does for local ones).
std::time_t FromUtcCalendar(std::tm tm);

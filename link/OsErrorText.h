#pragma once
// The system's text for an errno value. Several updates run at once in one process, so the
// text comes from strerror_r into a buffer of the caller's, never from a shared one.

#include <string>

std::string OsErrorText(int err);

#pragma once
// The key of a run across every station of a floor.

#include <string>

// A random (version 4) UUID in its usual lower-case text form,
// "1b4e28ba-2fa1-41d2-883f-0016d3cca427". The bits come from the system's random source, so
// stations started from the same image never share a sequence.
std::string NewRunId();

// Whether the text is a UUID in that form (any version, lower or upper case).
bool IsRunId(const std::string& text);

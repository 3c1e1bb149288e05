#pragma once
// Who the program is: its title, its version, and the name of its single-instance endpoint.

#include <string>

constexpr char ApplicationTitle[] = "KARDO Q-Series Programmer";

struct FileVersion {
    int Major, Minor, Patch, Build;
};

// The version this program was built as (the project's four-part version).
FileVersion ProgramVersion();
// "Version 2.6.1, Build 1"
std::string VersionCaption(const FileVersion& v);
// The name of a running copy's local endpoint: one per application title and user.
std::string InstanceEndpointName();

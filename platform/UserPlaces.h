#pragma once
// Who and where the program runs for the records and settings: the machine's name, and the
// folder where the user's own settings live.

#include <string>

// The machine's name as the network knows it; "localhost" when the system gives none.
std::string HostName();

// The user's settings folder: $XDG_CONFIG_HOME (else ~/.config) on Linux, %APPDATA% on
// Windows; written with "/" as every path inside the program.
std::string UserConfigFolder();

#include "platform/UserPlaces.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

std::string UserConfigFolder() {
    // A relative XDG_CONFIG_HOME is invalid by the base directory rules and ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config";
}

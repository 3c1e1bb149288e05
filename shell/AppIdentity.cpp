#include "shell/AppIdentity.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

FileVersion ProgramVersion() {
    return {Q40_VERSION_MAJOR, Q40_VERSION_MINOR, Q40_VERSION_PATCH, Q40_VERSION_BUILD};
}

std::string VersionCaption(const FileVersion& v) {
    char text[64];
    std::snprintf(text, sizeof text, "Version %d.%d.%d, Build %d", v.Major, v.Minor, v.Patch,
                  v.Build);
    return text;
}

std::string InstanceEndpointName() {
    std::string name;
    for (const char c : std::string(ApplicationTitle))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    const passwd* pw = getpwuid(getuid());
    return name + "-" + (pw ? pw->pw_name : std::to_string(getuid()));
}

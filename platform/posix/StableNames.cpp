// The stable names udev makes for ports (/dev/serial/by-id), read as links.
#include <dirent.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "link/PortList.h"

std::map<std::string, std::string> StableNames(const std::string& folder) {
    std::map<std::string, std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    std::vector<std::string> links;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') links.push_back(folder + "/" + e->d_name);
    closedir(dir);
    std::sort(links.begin(), links.end());  // the same choice every time
    for (const std::string& link : links) {
        char node[PATH_MAX];
        if (realpath(link.c_str(), node)) names.emplace(node, link);
    }
    return names;
}

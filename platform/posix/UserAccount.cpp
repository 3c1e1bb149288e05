#include "link/UserAccount.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!line.empty() && line.back() == separator) parts.emplace_back();
    return parts;
}

// The entry of an account file (name:x:id:...) whose third field is the id.
std::vector<std::string> EntryWithId(const std::string& file, unsigned id) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields = Split(line, ':');
        if (fields.size() >= 3 && !fields[2].empty() &&
            std::strtoul(fields[2].c_str(), nullptr, 10) == id)
            return fields;
    }
    return {};
}

// The numbers after "Key:" in a status line.
std::vector<unsigned> Numbers(const std::string& line) {
    std::vector<unsigned> numbers;
    std::istringstream in(line.substr(line.find(':') + 1));
    unsigned n;
    while (in >> n) numbers.push_back(n);
    return numbers;
}

bool HasKey(const std::string& line, const char* key) {
    return line.compare(0, std::char_traits<char>::length(key), key) == 0;
}
}  // namespace

UserFacts ReadUserFacts(const std::string& statusFile, const std::string& passwdFile) {
    UserFacts user;
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line)) {
        if (HasKey(line, "Uid:")) {
            const auto ids = Numbers(line);
            if (ids.size() >= 2) user.Uid = ids[1];  // the effective one
        } else if (HasKey(line, "Gid:")) {
            const auto ids = Numbers(line);
            if (ids.size() >= 2) user.Groups.push_back(ids[1]);
        } else if (HasKey(line, "Groups:")) {
            for (unsigned gid : Numbers(line)) user.Groups.push_back(gid);
        }
    }
    const std::vector<std::string> entry = EntryWithId(passwdFile, user.Uid);
    if (!entry.empty()) user.Name = entry[0];
    return user;
}

std::string GroupName(const std::string& groupFile, unsigned gid) {
    const std::vector<std::string> entry = EntryWithId(groupFile, gid);
    return entry.empty() ? std::string() : entry[0];
}

bool FindGroupId(const std::string& groupFile, const std::string& name, unsigned& gid) {
    std::ifstream in(groupFile);
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = Split(line, ':');
        if (fields.size() >= 3 && fields[0] == name && !fields[2].empty()) {
            gid = static_cast<unsigned>(std::strtoul(fields[2].c_str(), nullptr, 10));
            return true;
        }
    }
    return false;
}

bool GroupListsUser(const std::string& groupFile, unsigned gid, const std::string& user) {
    const std::vector<std::string> entry = EntryWithId(groupFile, gid);
    if (entry.size() < 4 || user.empty()) return false;
    for (const std::string& member : Split(entry[3], ','))
        if (member == user) return true;
    return false;
}

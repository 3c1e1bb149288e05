#pragma once
// Who this process runs as and which groups it has, against what the account files say.
// A user added to a group gets it only at the next login; the running session does not.

#include <string>
#include <vector>

struct UserFacts {
    unsigned Uid = 0;
    std::vector<unsigned> Groups;  // the effective group and the supplementary ones
    std::string Name;              // empty when the account files do not know the user
};

// From /proc/PID/status (Uid, Gid, Groups) and the passwd file.
UserFacts ReadUserFacts(const std::string& statusFile, const std::string& passwdFile);

// The group's name from a group file; empty when it has no entry.
std::string GroupName(const std::string& groupFile, unsigned gid);
// The id of the group with this name; false when the group file has no such group.
bool FindGroupId(const std::string& groupFile, const std::string& name, unsigned& gid);
// Whether the group file lists the user as a member of the group.
bool GroupListsUser(const std::string& groupFile, unsigned gid, const std::string& user);

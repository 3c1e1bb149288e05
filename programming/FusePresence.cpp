#include "programming/FusePresence.h"

#include <string>
#include <vector>

#include "link/Fuses.h"
#include "link/ProgError.h"

namespace {
struct GivenFuse {
    FuseByte Fuse;
    const std::string& Text;
    const char* Option;
    const char* Key;
};

// "Lo", "Lo and Hi", "Lo, Hi and Ex".
std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string WhatItHas(const DeviceEntry& chip) {
    std::vector<std::string> names;
    for (const FuseByte fuse : FusesOf(chip)) names.emplace_back(FuseName(fuse));
    if (names.empty())
        return std::string("the ") + chip.Name + " has no fuse that serial programming can write";
    return std::string("the ") + chip.Name + " has only the " + Listed(names) +
           (names.size() == 1 ? " fuse" : " fuses");
}
}  // namespace

void CheckFusesPresent(const DeviceEntry& chip, const RunParams& params) {
    const GivenFuse given[] = {{FuseByte::Lo, params.FuseLo, "--fuse-lo", "Fuse_Lo_<k>"},
                               {FuseByte::Hi, params.FuseHi, "--fuse-hi", "Fuse_Hi_<k>"},
                               {FuseByte::Ex, params.FuseEx, "--fuse-ex", "Fuse_Ex_<k>"}};
    std::vector<std::string> fuses, options, keys;
    for (const GivenFuse& g : given) {
        if (g.Text.empty() || HasFuse(chip, g.Fuse)) continue;
        fuses.push_back(std::string(FuseName(g.Fuse)) + " fuse " + g.Text);
        options.emplace_back(g.Option);
        keys.emplace_back(g.Key);
    }
    if (fuses.empty()) return;
    const bool one = fuses.size() == 1;
    throw EProgError(
        errFuseAbsent,
        WhatItHas(chip) + ": " + Listed(fuses) +
            (one ? " cannot be written; leave it out (" : " cannot be written; leave them out (") +
            Listed(options) + " on the command line, " + Listed(keys) + " in the catalogue)");
}

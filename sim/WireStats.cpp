#include "sim/WireStats.h"

#include <sstream>

namespace {
constexpr const char* ReceivedKey = "bytes received:";
constexpr const char* SentKey = "bytes sent:";
}  // namespace

std::string FormatWireStats(const WireStats& stats) {
    std::ostringstream out;
    out << ReceivedKey << ' ' << stats.Received << '\n' << SentKey << ' ' << stats.Sent << '\n';
    return out.str();
}

bool ParseWireStats(const std::string& text, WireStats& stats) {
    std::istringstream in(text);
    std::string line;
    bool haveReceived = false, haveSent = false;
    while (std::getline(in, line)) {
        const std::string rKey = ReceivedKey, sKey = SentKey;
        if (line.compare(0, rKey.size(), rKey) == 0)
            haveReceived =
                static_cast<bool>(std::istringstream(line.substr(rKey.size())) >> stats.Received);
        else if (line.compare(0, sKey.size(), sKey) == 0)
            haveSent =
                static_cast<bool>(std::istringstream(line.substr(sKey.size())) >> stats.Sent);
    }
    return haveReceived && haveSent;
}

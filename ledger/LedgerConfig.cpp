#include "ledger/LedgerConfig.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/SystemFiles.h"
#include "platform/UserPlaces.h"

namespace {
std::string Trimmed(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool IsUri(const std::string& url) {
    return StartsWith(url, "postgresql://") || StartsWith(url, "postgres://");
}

// Whether the address names the parameter already.
bool Names(const std::string& url, const std::string& key) {
    if (IsUri(url)) {
        const std::size_t query = url.find('?');
        if (query == std::string::npos) return false;
        const std::string q = "&" + url.substr(query + 1);
        return q.find("&" + key + "=") != std::string::npos;
    }
    const std::string c = " " + url;
    return c.find(" " + key + "=") != std::string::npos ||
           c.find(" " + key + " =") != std::string::npos;
}

std::string PercentEncoded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[u >> 4];
            out += digits[u & 0x0F];
        }
    }
    return out;
}
}  // namespace

std::string LedgerConfigPath() {
    return UserConfigFolder() + "/KARDO/Q40Prog.conf";
}

std::optional<std::string> ReadConfigValue(const std::string& path, const std::string& key) {
    std::ifstream in(sysfile::FsPath(path));
    if (!in) return std::nullopt;
    std::optional<std::string> value;
    std::string line;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || Trimmed(line.substr(0, eq)) != key) continue;
        std::string v = Trimmed(line.substr(eq + 1));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        value = v;
    }
    return value;
}

FloorSetting FloorLedgerSetting(const std::optional<std::string>& commandLine) {
    if (commandLine) return {*commandLine, "--ledger"};
    if (const char* env = std::getenv(LedgerEnvironment); env && *env)
        return {env, LedgerEnvironment};
    const std::string path = LedgerConfigPath();
    if (const auto value = ReadConfigValue(path, "ledger")) return {*value, path};
    return {};
}

bool IsFloorUrl(const std::string& text) {
    return IsUri(text) || text.find('=') != std::string::npos;
}

std::string ShownUrl(const std::string& url) {
    if (!IsUri(url)) {
        // key=value form: drop the password's pair.
        std::string shown;
        std::size_t at = 0;
        while (at < url.size()) {
            std::size_t end = url.find(' ', at);
            if (end == std::string::npos) end = url.size();
            const std::string pair = url.substr(at, end - at);
            if (!pair.empty() && !StartsWith(pair, "password="))
                shown += (shown.empty() ? "" : " ") + pair;
            at = end + 1;
        }
        return shown;
    }
    std::string shown = url;
    const std::size_t start = shown.find("://") + 3;
    const std::size_t hostEnd = shown.find_first_of("/?", start);
    const std::size_t at =
        shown.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
    if (at != std::string::npos && at >= start) {
        const std::size_t colon = shown.find(':', start);
        if (colon != std::string::npos && colon < at) shown.erase(colon, at - colon);
    }
    const std::size_t query = shown.find('?');
    if (query != std::string::npos) {
        std::string kept;
        std::size_t p = query + 1;
        while (p <= shown.size()) {
            std::size_t end = shown.find('&', p);
            if (end == std::string::npos) end = shown.size();
            const std::string pair = shown.substr(p, end - p);
            if (!pair.empty() && !StartsWith(pair, "password="))
                kept += (kept.empty() ? "" : "&") + pair;
            p = end + 1;
        }
        shown = shown.substr(0, query) + (kept.empty() ? "" : "?" + kept);
    }
    return shown;
}

std::string FloorConnectionString(const std::string& url, int connectSeconds,
                                  int statementSeconds) {
    const std::string ms = std::to_string(statementSeconds * 1000);
    const std::vector<std::pair<std::string, std::string>> added = {
        {"connect_timeout", std::to_string(connectSeconds)},
        // A server that accepted the connection but stalls, or a network that drops it.
        {"options", "-c statement_timeout=" + ms + " -c lock_timeout=" + ms},
        {"tcp_user_timeout", ms},
        {"application_name", "q40prog"},
    };
    std::string text = url;
    const bool uri = IsUri(url);
    bool first = uri && url.find('?') == std::string::npos;
    for (const auto& [key, value] : added) {
        if (Names(url, key)) continue;
        if (uri) {
            text += (first ? "?" : "&") + key + "=" + PercentEncoded(value);
            first = false;
        } else {
            text.append(" ").append(key).append("='").append(value).append("'");
        }
    }
    return text;
}

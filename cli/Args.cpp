#include "cli/Args.h"

Args::Args(std::vector<std::string> argv, std::set<std::string> valued,
           std::set<std::string> flags) {
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a.size() < 2 || a.compare(0, 2, "--") != 0 || a == "--") {
            Positional.push_back(a);
            continue;
        }
        const auto eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (valued.count(name)) {
            if (eq != std::string::npos) {
                Values[name].push_back(a.substr(eq + 1));
            } else if (i + 1 < argv.size()) {
                Values[name].push_back(argv[++i]);
            } else {
                Error = "option " + name + " needs a value";
                return;
            }
        } else if (flags.count(name) && eq == std::string::npos) {
            Flags.insert(name);
        } else {
            Error = "unknown option " + a;
            return;
        }
    }
}

std::optional<std::string> Args::Option(const std::string& name) const {
    const auto it = Values.find(name);
    if (it == Values.end()) return std::nullopt;
    return it->second.back();
}

std::vector<std::string> Args::Options(const std::string& name) const {
    const auto it = Values.find(name);
    return it == Values.end() ? std::vector<std::string>{} : it->second;
}

#include "cli/Args.h"

#include <CLI/CLI.hpp>

namespace {
// CLI11 reads "--name=" as "--name" still waiting for its value; here it is the empty value,
// which the commands refuse in their own words. CLI11 wants the arguments last first.
std::vector<std::string> ForParser(const std::vector<std::string>& argv) {
    std::vector<std::string> out;
    for (auto a = argv.rbegin(); a != argv.rend(); ++a) {
        const bool emptyValue = a->size() > 3 && a->rfind("--", 0) == 0 && a->back() == '=';
        if (emptyValue) out.emplace_back();
        out.push_back(emptyValue ? a->substr(0, a->size() - 1) : *a);
    }
    return out;
}

[[noreturn]] void GivenTwice(const std::string& name) {
    throw CLI::ValidationError("option " + name + " is given twice");
}

void AddValued(CLI::App& app, const std::string& name, bool repeatable,
               std::vector<std::string>& values) {
    app.add_option_function<std::string>(name,
                                         [name, repeatable, &values](const std::string& value) {
                                             if (!repeatable && !values.empty()) GivenTwice(name);
                                             values.push_back(value);
                                         })
        ->trigger_on_parse();
}

// CLI11 hands a flag "true", or the text after "=" where one was given.
void AddFlag(CLI::App& app, const std::string& name, std::set<std::string>& given) {
    app.add_option_function<std::string>(
           name,
           [name, &given](const std::string& value) {
               if (value != "true")
                   throw CLI::ValidationError("unknown option " + name + "=" + value);
               if (!given.insert(name).second) GivenTwice(name);
           })
        ->expected(0)
        ->trigger_on_parse();
}
}  // namespace

Args::Args(const std::vector<std::string>& argv, const std::set<std::string>& valued,
           const std::set<std::string>& flags, const std::set<std::string>& repeatable) {
    CLI::App app;
    app.set_help_flag();  // each command answers --help with its own text before this
    app.allow_extras();   // positionals and unknown options, named below in order
    for (const std::string& name : valued)
        AddValued(app, name, repeatable.count(name) != 0, Values[name]);
    for (const std::string& name : flags) AddFlag(app, name, Flags);
    std::vector<std::string> reversed = ForParser(argv);
    try {
        app.parse(reversed);
    } catch (const CLI::ValidationError& e) {
        Error = e.what();
    } catch (const CLI::ParseError&) {
        Error = "option " + argv.back() + " needs a value";  // only the last one can lack it
    }
    // What CLI11 left over came before any problem it stopped at.
    for (const std::string& a : app.remaining()) {
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            Error = "unknown option " + a;
            break;
        }
        Positional.push_back(a);
    }
}

std::optional<std::string> Args::Option(const std::string& name) const {
    const auto it = Values.find(name);
    if (it == Values.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
}

std::vector<std::string> Args::Options(const std::string& name) const {
    const auto it = Values.find(name);
    return it == Values.end() ? std::vector<std::string>{} : it->second;  // empty when not given
}

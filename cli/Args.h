#pragma once
// Options by CLI11: "--name value", "--name=value", flags and positionals, with our messages.
// An option given twice is a problem unless it is one that may be repeated: of two values
// one would win silently, and a script that repeats an option by mistake means one of them.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class Args {
public:
    // 'valued' lists the options that take a value; every other "--x" is a flag.
    // 'repeatable' lists the valued options that may be given more than once.
    Args(const std::vector<std::string>& argv, const std::set<std::string>& valued,
         const std::set<std::string>& flags, const std::set<std::string>& repeatable = {});

    bool Ok() const { return Error.empty(); }
    const std::string& ErrorText() const { return Error; }

    bool Flag(const std::string& name) const { return Flags.count(name) != 0; }
    // The value given for the option (the last one of a repeatable option).
    std::optional<std::string> Option(const std::string& name) const;
    // Every value given for the option, in order (--port A --port B).
    std::vector<std::string> Options(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return Positional; }

private:
    std::map<std::string, std::vector<std::string>> Values;
    std::set<std::string> Flags;
    std::vector<std::string> Positional;
    std::string Error;
};

#pragma once
// Sub-commands of q40prog-cli register themselves here; each lives in its own *Command.cpp.

#include <set>
#include <string>
#include <vector>

#include "cli/Args.h"

// Exit codes shared by every command.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitDeviceNeedsRun = 3;  // failed after a fuse write or the chip erase

struct Command {
    const char* Name;
    const char* Synopsis;          // the usage line after the command name
    const char* Summary;           // one line for the command list
    const char* Help;              // option descriptions for --help
    std::set<std::string> Valued;  // options that take a value
    std::set<std::string> Flags;   // options without a value
    // Runs with the parsed options; a command's own usage error returns UsageError(...).
    int (*Run)(const Command& self, const Args& args);
    std::set<std::string> Repeatable = {};  // valued options that may be given more than once
};

// Registers at static-initialisation time; the list is sorted by name.
struct RegisterCommand {
    explicit RegisterCommand(const Command& c);
};

const std::vector<Command>& Commands();

// Prints "usage: q40prog-cli NAME SYNOPSIS" and the help text to stdout or stderr.
void PrintCommandUsage(const Command& c, bool toStderr);
// Prints the problem and the command's usage on stderr; returns ExitUsage.
int UsageError(const Command& c, const std::string& problem);
// Prints "q40prog-cli: TEXT" on stderr, and the detail indented on the next line when there is
// one; returns ExitFailure.
int Failure(const std::string& text, const std::string& detail = {});

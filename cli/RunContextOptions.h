#pragma once
// The options every command that runs on a device shares for its record: --station,
// --operator, --serial and --ledger. Their help follows the command's own.

#include <set>
#include <string>

#include "cli/Args.h"
#include "programming/RunContext.h"

// The record options' help; 'serial' false leaves out --serial, for a command that asks each
// board for its own.
std::string RunContextHelp(bool serial);

// The command's valued options with those of the record added.
std::set<std::string> WithRunContext(std::set<std::string> valued);

// Whether the command takes the record's options (its help then shows them).
bool TakesRunContext(const std::set<std::string>& valued);

// Fills the context from the options; the usage problem, empty when they make sense.
// 'serial' false: a command for several boards at once, where one --serial cannot fit.
std::string ReadRunContext(const Args& args, RunContext& context, bool serial = true);

#pragma once
// A run's steps with every way they can fail turned into the run's failure record.

#include <functional>
#include <string>

#include "link/ProgError.h"

// Runs 'steps'; true when they finished. A failure goes to 'failed' as the run's failure
// record: the updater's own failures as they are, and a fault of the program or the system
// (memory gone, a library's exception) as errInternal with its words on the detail line. The
// run then still ends, keeps its record and tells the bench what the device went through,
// instead of taking the program down with the unit's state unknown.
// The failure record of such a fault, 'what' being its own words.
EProgError InternalFailure(const std::string& what);

bool RunGuarded(const std::function<void()>& steps,
                const std::function<void(const EProgError&)>& failed);

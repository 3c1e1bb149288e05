#pragma once
// The start every talk with the target shares: open the port, reset the box, port time 100,
// programming mode, the chip's signature. Runs log each step before they take it; the chip
// query takes them silently.

#include <functional>
#include <string>

#include "link/IspLink.h"

// The port time the box runs at until a run sets the item's speed.
constexpr int StartPortTime = 100;

using StepLog = std::function<void(const std::string&)>;

// Returns the chip's name; 'log', when given, gets "opening serial port <port>" ...
// "chip type is <name>". Failures are thrown as EProgError, as the link throws them.
std::string OpenAndIdentify(TIspLink& link, const std::string& port, const StepLog& log = {});

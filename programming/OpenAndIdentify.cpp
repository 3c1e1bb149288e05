#include "programming/OpenAndIdentify.h"

std::string OpenAndIdentify(TIspLink& link, const std::string& port, const StepLog& log) {
    const auto step = [&](const std::string& line) {
        if (log) log(line);
    };
    step("opening serial port " + port);
    link.OpenPort(port);
    step("reseting programmer");
    link.ResetProgrammer();
    step("setting port time to 100");
    link.SetPortTime(StartPortTime);
    step("enabling programming mode");
    link.EnableProgMode();
    step("reading chip type...");
    std::string chip = link.ReadChipType();
    step("chip type is " + chip);
    return chip;
}

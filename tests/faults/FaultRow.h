#pragma once
// One line of the fault matrix and what the run was expected to do.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct Expected {
    int Exit = 0;          // q40prog-cli: 0 done, 1 device untouched, 3 after the erase
    int Code = 0;          // failure code of the run record; 0 when done
    std::string Message;   // the text after "programming interrupted: "; empty when done
    std::string StopStep;  // start of the last step line before the failure
    // The time-out the failure has to sit out after its step began; 0 when nothing waits.
    int MinWaitMs = 0, MaxWaitMs = 0;
};

struct FaultRow {
    FaultRow() = default;
    FaultRow(std::string fault, std::string phase)
        : Fault(std::move(fault)), Phase(std::move(phase)) {}

    std::string Fault;
    std::string Phase;
    std::string Outcome;
    double Seconds = 0;  // from the fault to the reported failure; the whole run when done
    std::string Eeprom;  // where the device's original EEPROM is after the case
    std::string Port;    // whether the next run gets the port
    std::vector<std::string> Problems;

    void Fail(const std::string& why) { Problems.push_back(why); }
    bool Ok() const { return Problems.empty(); }
};

void PrintHeader(std::FILE* out);
void PrintRow(std::FILE* out, const FaultRow& row);

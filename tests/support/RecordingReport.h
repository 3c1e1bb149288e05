#pragma once
// Keeps everything a run reports, and can ask for an abort at a chosen progress call.

#include <string>
#include <vector>

#include "programming/RunReport.h"

struct RecordingReport : IRunReport {
    void ClearLog() override { Lines.clear(); }
    void Log(const std::string& line) override { Lines.push_back(line); }
    void ChipIdentified(const std::string& name) override { Chip = name; }
    bool Progress(int32_t, int32_t, ProgressPhase phase) override {
        Phases.push_back(phase);
        return AbortOnPhase == phase && ++AbortCountdown > AbortAfter;
    }
    void Failed(const std::string& text) override { FailedText = text; }
    void Ended(const RunOutcome& outcome) override {
        Outcome = outcome;
        ++Ends;
    }
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override {
        Questions.push_back(question);
        return Answer;
    }

    std::vector<std::string> Lines;
    std::string Chip;
    std::vector<int32_t> Phases;
    std::string FailedText;
    RunOutcome Outcome;
    int Ends = 0;
    int32_t AbortOnPhase = -1;  // abort at this phase's progress call number AbortAfter + 1
    int AbortAfter = 0;
    int AbortCountdown = 0;
    std::vector<EepromQuestion> Questions;
    EepromAnswer Answer;  // given to every question; Stop unless a test says otherwise
};

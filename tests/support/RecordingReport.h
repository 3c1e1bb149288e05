#pragma once
// Keeps everything a run reports, and can ask for a stop at a chosen point: a log line (the
// step it names has not acted yet), a progress call, or a phase's progress call. Once asked
// for, the stop stays asked for, as the window's Abort flag and a stop signal do.

#include <string>
#include <vector>

#include "programming/RunReport.h"

struct RecordingReport : IRunReport {
    void ClearLog() override { Lines.clear(); }
    void Log(const std::string& line) override {
        Lines.push_back(line);
        ++LinesLogged;
        if (LinesLogged == StopAtLineNumber || (!StopAtLine.empty() && line == StopAtLine))
            RequestStop();
    }
    void ChipIdentified(const std::string& name) override { Chip = name; }
    bool Progress(int32_t, int32_t, ProgressPhase phase) override {
        Phases.push_back(phase);
        if (static_cast<int>(Phases.size()) == StopAtProgressCall) RequestStop();
        if (AbortOnPhase == phase && ++AbortCountdown > AbortAfter) RequestStop();
        return Stopping;
    }
    bool StopRequested() override {
        ++StopChecks;
        return Stopping;
    }
    void StopPending() override { PendingAt.push_back(Lines.empty() ? "" : Lines.back()); }
    void Failed(const std::string& text) override { FailedText = text; }
    void Ended(const RunOutcome& outcome) override {
        Outcome = outcome;
        ++Ends;
    }
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override {
        Questions.push_back(question);
        return Answer;
    }

    void RequestStop() {
        if (!Stopping) StopAskedAt = Lines.empty() ? "" : Lines.back();
        Stopping = true;
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

    // Where a stop is asked for; 0 or empty: not there.
    int StopAtLineNumber = 0;    // the run's N-th log line, from 1
    std::string StopAtLine;      // the first log line with this text
    int StopAtProgressCall = 0;  // the run's N-th progress call, from 1
    bool Stopping = false;       // a stop has been asked for (a test may set it at once)
    std::string StopAskedAt;     // the last log line when it was
    int LinesLogged = 0;
    int StopChecks = 0;                  // StopRequested calls
    std::vector<std::string> PendingAt;  // the last log line at each StopPending
};

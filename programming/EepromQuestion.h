#pragma once
// The question a run asks before its chip erase when the device's EEPROM may be what an
// interrupted update left, and its possible answers. The window asks a person; the command
// line answers from its options; a production station goes on as with a new board.

#include <chrono>
#include <string>
#include <vector>

#include "programming/PendingCopies.h"

struct EepromQuestion {
    std::string Chip;
    // Why nobody can tell: the device's EEPROM is blank; or it holds the first part of a copy
    // but nothing a board without that copy could not hold as well (bytes other units' copies
    // hold too, a lone block: DeviceCommon); else several differing copies fit what it holds.
    bool DeviceBlank = false;
    std::vector<PendingCopy> Candidates;  // newest first
    bool DeviceCommon = false;
};

struct EepromAnswer {
    enum Choice {
        Stop,        // fail before the erase
        WriteCopy,   // write CopyPath, one of the candidates, instead of what was read
        KeepDevice,  // go on with the EEPROM as read (a new board)
    };
    Choice Kind = Stop;
    std::string CopyPath;
    // Stop: how to go on, for the failure's detail; empty: a general one. KeepDevice: a log
    // line saying why, when there is one.
    std::string Detail;
};

// "2026-12-09 22:50", local time.
std::string QuestionDate(std::chrono::system_clock::time_point t);

// Whether the device is the one whose update left this copy, as one question.
std::string CandidateQuestion(const EepromQuestion& q, const PendingCopy& candidate);

// What each button of the window's question about one candidate does; 'last': no candidate
// follows, so No goes on with the EEPROM as the device holds it.
std::string AnswerChoices(bool last);

// What the device holds and which copies may belong to it, in one sentence.
std::string DescribeCandidates(const EepromQuestion& q);

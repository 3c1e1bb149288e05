#pragma once
// What a failure of the device's memory or of the line turned out to be, found by asking the
// chip for its signature once more before the failure is reported: a board taken off reads
// back blank bytes just as a chip whose flash is stuck does, and only the chip's answer tells
// the two apart. The words are a small fixed vocabulary, kept as they stand in the run record,
// so that production counts and a database can rely on them.

#include <functional>
#include <string>

class TIspLink;
struct EProgError;
struct RunOutcome;

enum class FailureCause {
    None,            // ""                 not examined: success, and every other failure
    VerifyMismatch,  // "verify mismatch"  a verification failed (11, 13); the chip still answers
    TargetLost,      // "target lost"      the box answers, the chip does not any more
    BoxSilent,       // "box silent"       the box itself does not answer (or did not for a while)
};

// The record's word for the cause.
const char* CauseText(FailureCause cause);

struct CauseFinding {
    FailureCause Cause = FailureCause::None;
    std::string Line;  // the detail line that says it to the person at the bench; empty for None
};

// After a verification failure (codes 11, 12 and 13), and after a box gone quiet or a port gone
// (codes 4 and 7) once programming mode was entered: asks the chip for its signature once more
// and judges the answer. Every other failure is left as it is: None, and nothing is sent.
CauseFinding FindFailureCause(TIspLink& link, const EProgError& e);

// For a run's failure path: FindFailureCause, the cause into 'outcome', its line onto the
// outcome's detail (a line of its own) and into the run's log.
void NoteFailureCause(TIspLink& link, const EProgError& e, RunOutcome& outcome,
                      const std::function<void(const std::string&)>& log);

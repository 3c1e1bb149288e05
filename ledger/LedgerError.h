#pragma once
// A ledger that could not be read or written: one line saying what and why. Thrown inside
// the ledger library only; what a run calls (LedgerWriter) turns it into its message.

#include <stdexcept>
#include <string>

class LedgerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A database's message as one line: libpq's come over several lines and with padded blanks.
std::string OneLine(const std::string& text);

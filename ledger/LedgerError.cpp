#include "ledger/LedgerError.h"

std::string OneLine(const std::string& text) {
    std::string line;
    std::string pending;  // what goes before the next word: nothing, " " or "; "
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line.empty()) pending = "; ";
        } else if (c == ' ' || c == '\t') {
            if (!line.empty() && pending.empty()) pending = " ";
        } else {
            line += pending;
            pending.clear();
            line += c;
        }
    }
    return line;
}

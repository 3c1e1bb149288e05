#pragma once
// Texts as both ledgers can hold them. PostgreSQL refuses a byte sequence that is not UTF-8
// (a Windows-1252 file name) and cannot hold a NUL; a record with either would never reach
// the floor.

#include <string>

// The text with every byte that is not part of valid UTF-8, and every NUL, as U+FFFD.
std::string ValidUtf8(const std::string& text);

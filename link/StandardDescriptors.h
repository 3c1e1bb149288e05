#pragma once
// A program started with stdin, stdout or stderr closed (">&-", as some service managers and
// scripts start them) would hand the free number to the next file it opens, the serial port
// among them, and then write its messages into the programmer box. Called first thing in
// main, this puts /dev/null on each of 0, 1 and 2 that is closed.

// False when one of them stays closed (no /dev/null to open): the program must not go on.
bool OpenClosedStandardDescriptors();

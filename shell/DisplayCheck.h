#pragma once
// The desktop program without a desktop: one clear line and a non-zero exit instead of the
// toolkit's abort.

#include <QApplication>
#include <memory>
#include <string>

// The exit code when no display can be opened; every other end of the program is 0.
constexpr int ExitNoDisplay = 1;

// The line printed then, naming what is missing.
std::string NoDisplayLine(const std::string& reason);

// What is missing when the environment names no display at all and no platform is chosen
// (QT_QPA_PLATFORM or -platform); empty when there may be one.
std::string MissingDisplay(int argc, char** argv);

// Creates the application (a TApplication). When there is no display, or the toolkit cannot open
// the one named, the process ends here with NoDisplayLine on stderr and ExitNoDisplay.
std::unique_ptr<QApplication> OpenApplication(int& argc, char** argv);

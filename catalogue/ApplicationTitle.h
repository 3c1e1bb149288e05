#pragma once
// The program's title: the main window's caption and the name a second start looks for.

constexpr char ApplicationTitle[] = "KARDO Q-Series Programmer";

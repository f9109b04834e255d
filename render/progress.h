#pragma once
// The progress bar a long render draws on a terminal. Short renders finish before it
// would appear, and nothing is drawn when stderr is a file or a pipe.
#include <chrono>
#include <cstdint>
#include <string>

// "[##########----------]  50%" for done/total, `width` marks wide.
std::string progressBar(std::uint64_t done, std::uint64_t total, unsigned width);

// The line drawn for done/total on a terminal `columns` wide (0: width unknown): the
// program's name and a bar of kProgressMarks marks where there is room, the bar
// narrowed down to kProgressMinMarks where there is less, the name left out where even
// that does not fit. The line stays short of the last column, so the terminal never
// wraps it.
constexpr unsigned kProgressMarks = 40;
constexpr unsigned kProgressMinMarks = 10;
std::string progressLine(std::uint64_t done, std::uint64_t total, unsigned columns);

// Whether a render `elapsed` seconds in, `fraction` done, is one worth a bar: once it
// has run a second, or earlier when it is on course to take longer than that.
bool progressWorthShowing(double elapsedSeconds, double fraction);

struct Progress {
    bool terminal = false;
    bool shown = false;
    int lastPercent = -1;
    std::chrono::steady_clock::time_point start;
};

void progressBegin(Progress& progress, bool terminal);
void progressUpdate(Progress& progress, std::uint64_t done, std::uint64_t total);
// Ends the bar's line if one was drawn, so what follows starts on a line of its own.
void progressEnd(Progress& progress);

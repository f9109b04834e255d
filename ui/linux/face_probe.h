#pragma once
// What the Linux face's tests and benchmarks look at from inside: never included by the
// program's own code paths, only implemented beside the state it reads.
#include <cstdint>

class QWidget;

// The widget of control table row `index` (0-based, table order); null outside.
QWidget* controlWidget(int index);

// The grey of the stimulation window's last paint, and how many paints there have been.
std::uint8_t paintedLevel();
std::uint64_t paintCount();

// The strobe's time origin on CLOCK_MONOTONIC, in nanoseconds: tick k is due at
// origin + k * 2 ms.
std::int64_t strobeTimerOriginNs();

// How many strobes have ever run at the same time (1 when sessions never overlap), and
// how many run now.
int strobeTimersMostAtOnce();
int strobeTimersRunning();

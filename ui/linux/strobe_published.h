#pragma once
// What the Linux strobe timer shares with the stimulation window. The 2 ms tick only
// publishes the grey it computed; the window, on its own thread, picks up whatever is
// current once per display frame.
#include <cstdint>

// The grey level of the latest tick; 0 (black) while no strobe runs.
std::uint8_t strobePublishedLevel();

// The tick thread's time origin on CLOCK_MONOTONIC, in nanoseconds: tick k is due at
// origin + k * 2 ms. Set before the thread starts.
std::int64_t strobeTimerOriginNs();

// How many tick threads have ever run at the same time (1 when sessions never
// overlap), and how many run now.
int strobeTimersMostAtOnce();
int strobeTimersRunning();

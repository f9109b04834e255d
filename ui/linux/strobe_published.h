#pragma once
// What the Linux strobe shares with the stimulation window, which reads the grey on the
// UI thread once per display frame.
#include <cstdint>

// The grey of the tick due now, counted from the strobe's start on the monotonic clock;
// 0 (black) while no strobe runs.
std::uint8_t strobePublishedLevel();

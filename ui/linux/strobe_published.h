#pragma once
// What the Linux strobe tick shares with the stimulation window. The 2 ms tick only
// publishes the grey it computed; the window, on the UI thread, picks up whatever is
// current once per display frame.
#include <cstdint>

// The grey level of the latest tick; 0 (black) while no strobe runs.
std::uint8_t strobePublishedLevel();

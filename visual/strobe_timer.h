#pragma once
// Strobe seam: the periodic 2 ms tick and the grey the stimulation window shows.
// Implemented once per face (ui/windows/strobe_timer_win32.cpp: a multimedia timer and a
// GDI fill; ui/linux/strobe_timer_linux.cpp: the tick counted from the clock whenever
// the window reads the grey, once per display frame) and by a recording fake in the tests.
#include <cstdint>

// Starts the periodic 2 ms tick, whose callback runs on a thread of its own and calls
// strobeTick(). A platform whose window samples the grey only once per display frame
// may instead count the tick from a clock when the grey is read, and call
// strobeTickAt(). Called by the strobe worker, in the stroboscope mode only.
void strobeTimerStart();

// Stops the tick. Once it returns no callback runs and none will, and the window is
// black again for the next session.
void strobeTimerStop();

// Shows the whole stimulation window in one grey level. Called from the tick.
void strobeShow(std::uint8_t level);

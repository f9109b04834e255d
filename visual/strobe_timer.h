#pragma once
// Strobe seam: the stimulation window's drawing surface and a periodic 2 ms timer that
// paints it. Implemented once per platform and by a recording fake in the tests.
#include <cstdint>

// Takes the stimulation window's drawing surface and its size. Called by the strobe
// worker when it starts, before any timer exists.
void strobeSurfaceAcquire();

// Gives the surface back. Called by the strobe worker last, after the timer is gone.
void strobeSurfaceRelease();

// Starts the periodic 2 ms timer, whose callback runs on a thread of its own and calls
// strobeTick() (or strobeTickAt() where the platform counts ticks from a clock).
void strobeTimerStart();

// Kills the timer. Once it returns no callback runs and none will.
void strobeTimerStop();

// Fills the whole stimulation window in one grey level. Called from the timer callback.
void strobeFill(std::uint8_t level);

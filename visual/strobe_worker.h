#pragma once
// The strobe worker: one per session, on its own thread. In the stroboscope mode it
// starts the 2 ms tick that shows the stimulation window in the grey of the current
// tick; in either mode it then polls the session flag, at least every 100 ms and at
// once when woken, and stops the tick once the flag drops.
#include <cstdint>

#include "settings/session_flag.h"

constexpr std::uint32_t kStrobePollMs = 100;

// Ticks since this session's strobe started. Written by the worker before the timer
// starts, then only by the tick.
extern std::uint32_t tickCounter;

// Thread entry.
void StrobeWorker(const SessionFlagType* flag);

// Called once the flag has dropped, from any thread: the worker looks at it now.
void wakeStrobeWorker();

// The timer callback: shows the level of tickCounter and counts one tick.
void strobeTick();

// The same for a platform that counts ticks from elapsed time: shows the level of
// tick `tick` and continues counting from there, so a late timer never slows the
// flicker.
void strobeTickAt(std::uint32_t tick);

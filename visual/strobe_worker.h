#pragma once
// The strobe worker: one per session, on its own thread. In the stroboscope mode it
// starts the 2 ms timer whose tick paints the stimulation window in the grey of the
// current tick; in either mode it then polls the session flag and tears down once it
// drops.
#include <cstdint>

#include "session/session_flag.h"

constexpr std::uint32_t kStrobePollMs = 100;

// Ticks since this session's strobe started. Written by the worker before the timer
// starts, then only by the tick.
extern std::uint32_t tickCounter;

// Thread entry.
void StrobeWorker(const SessionFlagType* flag);

// The timer callback: paints the level of tickCounter and counts one tick.
void strobeTick();

// The same for a platform that counts ticks from elapsed time: paints the level of
// tick `tick` and continues counting from there, so a late timer never slows the
// flicker.
void strobeTickAt(std::uint32_t tick);

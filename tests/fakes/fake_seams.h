#pragma once
// Recording fakes of the platform seams: the desktop, the thread prologue and the strobe
// timer here, the wave device in fake_wave_device.h. Every call is appended to one log,
// so a test can check the order of calls across the controller, both workers and the
// device thread.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "settings/session_flag.h"
#include "sound/block_synth.h"

namespace fake {

// The whole call log, in order.
std::vector<std::string> log();
void record(const std::string& entry);
// Forgets the log and puts every behaviour back to its default.
void reset();

// Worker threads: after holdNewThreads(), each new thread stops in its prologue until
// releaseThreads(), which lets them all go and holds no more; heldThreads() counts the
// threads waiting there.
void holdNewThreads();
int heldThreads();
void releaseThreads();

// Strobe: every level filled, in order.
std::vector<int> filledLevels();
extern bool timerRunning;

// Desktop: the refresh rate the screen reports (0: unknown). What the user is told is
// logged as "tell: TEXT".
extern double refreshRate;

} // namespace fake

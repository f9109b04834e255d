#pragma once
// Recording fakes of the three platform seams. Every call is appended to one log, so a
// test can check the order of calls across the controller and both workers.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/session_flag.h"
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

// Wave output: whether the device opens, what each wait answers (called with the
// 1-based number of the wait; false fails the device), and every queued block as it was
// when queued. With deviceSilent set, a wait after the open notice never hears of a
// played block: it returns only when woken, or Failed after its bound.
extern bool deviceOpens;
extern bool deviceSilent;
extern std::function<bool(int wait)> onWait;
std::vector<SampleBlock> queuedBlocks();
extern int devicesOpenNow;  // opens minus closes
extern int mostDevicesOpen; // the most ever open at once

// Strobe: every level filled, in order.
std::vector<int> filledLevels();
extern bool timerRunning;

// Desktop: the refresh rate the screen reports (0: unknown). What the user is told is
// logged as "tell: TEXT".
extern double refreshRate;

} // namespace fake

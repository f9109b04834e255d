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

// Desktop: the controls' values, and threads that are either started at once or held
// until the test runs them.
struct Controls {
    std::uint32_t frequency = 780;
    long sound = 1;
    long visual = 1;
};
extern Controls controls;
extern bool holdThreads; // true: desktopStartThread only stores the entry
struct HeldThread {
    void (*entry)(const SessionFlagType*);
    const SessionFlagType* flag;
};
std::vector<HeldThread> takeHeldThreads();

// Wave output: whether the device opens, what each wait answers (called with the
// 1-based number of the wait), and every queued block as it was when queued.
extern bool deviceOpens;
extern std::function<bool(int wait)> onWait;
std::vector<SampleBlock> queuedBlocks();
extern int devicesOpenNow;  // opens minus closes
extern int mostDevicesOpen; // the most ever open at once

// Strobe: every level filled, in order.
std::vector<int> filledLevels();
extern bool timerRunning;

} // namespace fake

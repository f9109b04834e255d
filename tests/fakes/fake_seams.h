#pragma once
// Recording fakes of the platform seams: the desktop, the thread prologue and the strobe
// timer (fake_seams.cpp), and the wave device verbs (fake_wave_device.cpp) over a sound
// system the tests steer, below the real device thread. Every call is appended to one
// log, so a test can check the order of calls across the controller, both workers and the
// device thread. The device logs "open" (every try), "writeK" (copy K, once taken whole),
// "reset" and "close".
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sound/block_synth.h"

namespace fake {

std::vector<std::string> log();
void record(const std::string& entry);
// Forgets the log and puts every behaviour back to its default; with no device thread
// running.
void reset();
void resetWaveDevice();
// Polls `done` for up to five seconds; true once it holds.
bool eventually(const std::function<bool()>& done);

// After holdNewThreads(), each new worker thread stops in its prologue until
// releaseThreads(); heldThreads() counts those waiting there.
void holdNewThreads();
int heldThreads();
void releaseThreads();

std::vector<int> filledLevels(); // every grey the strobe showed, in order
extern double refreshRate;       // what the desktop reports (0: unknown); "tell: TEXT" is logged

extern std::atomic<bool> deviceOpens;     // false: there is no device to be had
extern std::atomic<int> deviceFailsAfter; // fails once given this many blocks (0: never)
extern std::function<void()> onOpen;      // on the device thread, before the worker hears
// On the worker's thread each time it asks a device thread for something (a block handed
// over, a stop, a close), with the 1-based number of the ask.
extern std::function<void(int ask)> onAsk;
// Opening waits while `opens` is set, resetting and closing while `ends` is: the calls a
// frozen sound server holds.
void setFrozen(bool opens, bool ends);
// Each device finishes at most `blocks` blocks (counted from its open); no limit at first.
void limitPlayed(std::uint64_t blocks);
std::uint64_t writtenBlocks();             // given to the devices since the reset
std::vector<SampleBlock> writtenContents(); // the first ones, as they were when given
extern std::atomic<int> devicesOpenNow;     // opens minus closes
extern std::atomic<int> mostDevicesOpen;    // the most ever open at once

} // namespace fake

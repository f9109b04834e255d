#pragma once
// A recording fake of the wave device verbs (sound/wave_device.h) over a sound system
// the tests steer: it can find no device, freeze, fail, stay silent, or finish blocks
// only as fast as a test lets it. The device thread's loop and the worker's side run
// for real above it. Each verb is logged in fake::log(): "open" (every try), "writeK"
// (block K, once the device has taken it whole), "reset", "close".
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "sound/block_synth.h"

namespace fake {

// Puts every behaviour below back to its default; called by fake::reset(), with no
// device thread running.
void resetWaveDevice();

extern std::atomic<bool> deviceOpens;  // false: there is no device to be had
extern std::atomic<bool> deviceSilent; // the device never finishes a block
// The device fails once it has been given this many blocks since it opened (0: never).
extern std::atomic<int> deviceFailsAfter;
// Called on the device thread once a device has opened, before the worker hears of it.
extern std::function<void()> onOpen;
// Called on the worker's thread each time it asks a device thread for something (a
// block handed over, a stop, a close), with the 1-based number of the ask.
extern std::function<void(int ask)> onAsk;

// Opening waits while `opens` is set, resetting and closing while `ends` is: the calls
// a frozen sound server holds.
void setFrozen(bool opens, bool ends);

// The device finishes at most `blocks` blocks of each stream (counted from its open),
// in the order given; without a limit, every block as soon as it is given.
void limitPlayed(std::uint64_t blocks);

// Waits, bounded, until the devices have been given `blocks` blocks since the reset.
bool awaitWritten(std::uint64_t blocks);
std::uint64_t writtenBlocks();
// The first blocks given, as they were when given.
std::vector<SampleBlock> writtenContents();

int devicesOpened();                // opens that found a device
extern std::atomic<int> devicesOpenNow;  // opens minus closes
extern std::atomic<int> mostDevicesOpen; // the most ever open at once

} // namespace fake

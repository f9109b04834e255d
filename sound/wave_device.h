#pragma once
// Wave device seam: the verbs of one platform's sound device, and the wake of the thread
// that calls them. The device thread's loop is written once over them
// (sound/device_thread.cpp); ui/linux/wave_device_alsa.cpp supplies them over ALSA's
// "default" PCM, ui/windows/wave_device_winmm.cpp over winmm's wave mapper, and the
// tests over a fake sound system that can freeze (tests/fakes/fake_wave_device.cpp).
//
// Each device lives in a slot of its own, so a device thread stuck in a lost server
// holds only its slot. Every verb but waveDeviceAsk (and the prepare and forget, which
// come before the thread starts) runs on the slot's device thread, in this order: open;
// then write, played, wait, over and over, until the worker asks to stop or a verb
// fails; then reset; awaitAsk until the close is wanted; close.
#include <cstdint>

#include "sound/block_synth.h"

// A device thread stuck in a lost server holds its slot; one more is enough for the next
// session to get sound as soon as the server is back.
constexpr int kDeviceSlots = 2;
// Two blocks unplayed are all a device is ever given, each from a copy of its own.
constexpr int kMaxQueuedBlocks = 2;

// ---- the device thread's wake, made once per slot and kept for reuse ---------------

// Makes what the slot's device thread sleeps on; false if the system gives none.
bool waveDevicePrepare(int slot);

// Forgets the asks and device signals left over from the slot's last device; called
// before the slot's next device thread starts.
void waveDeviceForget(int slot);

// Wakes the slot's device thread from its wait or its awaitAsk: a block was handed over,
// or a stop or close asked for. Called from the worker's thread.
void waveDeviceAsk(int slot);

// Sleeps until the next ask, without a bound (the worker always asks for the close).
void waveDeviceAwaitAsk(int slot);

// ---- the device, on the slot's device thread ----------------------------------------

// Opens the default output for 44100 Hz, 2 channels, 16-bit signed PCM, to be fed from
// `copies` (kMaxQueuedBlocks blocks, which live as long as the process). False when there
// is no device to be had; nothing else is called then.
bool waveDeviceOpen(int slot, SampleBlock* copies);

enum class BlockWrite {
    Taken,  // the whole block is the device's now
    Full,   // the device has no room for (the rest of) it yet: offer it again after a wait
    Failed, // the device failed
};

// Offers copy `copy` to the device, behind what it already has. A block the device took
// only in part is offered again until it is Taken; blocks are offered in the order the
// worker handed them over.
BlockWrite waveDeviceWrite(int slot, int copy);

// The blocks the device has finished playing since it opened, in the order written;
// false once the device has failed.
bool waveDevicePlayed(int slot, std::uint64_t* played);

// Sleeps until the device may have finished a block, the worker asks for something, or,
// when `blockWaiting` (a block the device had no room for), soon enough to offer it
// again. False once the device has failed.
bool waveDeviceWait(int slot, bool blockWaiting);

// Cuts the output off: whatever the device still has is dropped.
void waveDeviceReset(int slot);

// Lets the copies go and closes the device.
void waveDeviceClose(int slot);

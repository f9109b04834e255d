#pragma once
// A wave output whose every device call runs on a device thread of its own.
//
// Sound systems can stop answering: through PulseAudio's ALSA plugin, and through Wine's
// winmm, opening, stopping and closing a stream wait for the sound server, and a frozen
// server holds them for half a minute or for good. So the audio worker never calls the
// device: it hands blocks over (copied, so an abandoned device never reads storage the
// next session writes) and waits, bounded, for the device thread's news. A device that
// keeps silent past the bound is abandoned to its thread, which closes it whenever the
// system lets go, and the session goes on silent.
//
// At the end of a session the worker waits only briefly for the device to stop and
// close, so the next session never waits for a slow or frozen server: a device still
// closing is left to its thread, and the next session's device thread waits, bounded,
// for it to be let go before it opens the device again (a device without a server may
// take one stream at a time).
//
// This file is the worker's side, which implements the wave output seam
// (sound/wave_output.h), and what the device thread shares with it. Each face provides
// the device thread itself and the way to wake it, through the hooks at the end
// (ui/linux/wave_output_linux.cpp over ALSA, ui/windows/wave_output_win32.cpp over winmm).
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sound/block_synth.h"

// A device thread stuck in a lost server holds its slot; one more is enough for the next
// session to get sound as soon as the server is back.
constexpr int kDeviceSlots = 2;
// Two blocks unplayed are all a device is ever given.
constexpr int kMaxQueuedBlocks = 2;

// What the worker and one device thread share.
struct DeviceSlot {
    std::mutex lock;
    std::condition_variable news; // the device thread has something for the worker

    // Written by the worker, under the lock.
    std::uint64_t handed = 0;             // blocks handed over since open
    int handedIndex[kMaxQueuedBlocks] {}; // which block each of the last two handed ones is
    bool stopWanted = false;
    bool closeWanted = false;

    // Written by the device thread, under the lock.
    int opened = 0;           // 0 pending, 1 open, -1 no device
    std::uint64_t played = 0; // blocks the device has finished
    bool stopped = false;
    bool failed = false;
    bool busy = false;        // a device thread owns the slot

    // The worker's copies of the blocks: a block is copied in when it is handed over and
    // read by the device thread only until it has been played.
    SampleBlock copies[kMaxQueuedBlocks];
};

// For the program's exit: waits up to `timeoutMs` until no device thread is inside the
// sound system any more (every slot closed and let go); true if none is. A thread still
// held by a frozen server must not be torn down under Wine, whose ending of a thread in
// the middle of a call into the sound server faults and takes the whole process with it.
bool waitForDeviceThreads(std::uint32_t timeoutMs);

// ---- for the device thread ---------------------------------------------------------

DeviceSlot& deviceSlot(int slot);

// Waits, bounded, until no other slot's device is held any more; false if the worker
// gave this device up meanwhile (its session ended before the device was open).
bool awaitDeviceRelease(int slot);

// The device is open and prepared, or could not be had (the slot is then free again and
// the thread ends).
void reportDeviceOpened(int slot, bool ok);

// The blocks handed over so far and which block each of the last two is; false once the
// worker has asked to stop.
bool takeHanded(int slot, std::uint64_t* handed, int* handedIndex);

// The device has finished `played` blocks since it opened.
void reportPlayed(int slot, std::uint64_t played);

// The stream has ended: asked to by the worker, or else the device failed. Either way
// the worker's waits end at once.
void reportStreamEnded(int slot);

// The output is cut off: the device has been reset.
void reportStopped(int slot);

// Whether the worker has asked for the close (or abandoned the device).
bool closeWanted(int slot);

// The device is closed; the slot is free for a later session.
void reportClosed(int slot);

// ---- provided by the face ----------------------------------------------------------

// Makes what the slot's device thread sleeps on, once for the slot and kept for reuse;
// false if the system gives none.
bool deviceSlotPrepare(int slot);

// Forgets the wakes and device signals left over from the slot's last device; called
// before the slot's next device thread starts.
void deviceSlotForget(int slot);

// Wakes the slot's device thread: a block was handed over, or a stop or close asked for.
void deviceSlotAsk(int slot);

// The device thread of `slot`, started detached for each opening: waits for the release,
// opens, reports, streams until asked to stop, resets, waits for the close, closes.
void deviceThread(int slot);

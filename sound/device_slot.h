#pragma once
// What the audio worker's side of the device (sound/device_thread_output.cpp) and a
// device thread (sound/device_thread.cpp) share: one slot per device.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sound/block_synth.h"
#include "sound/wave_device.h"

// How long a new device thread waits for the last session's device to be let go.
constexpr std::uint32_t kReleaseWaitMs = 2000;

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
    // read by the device only until it has been played.
    SampleBlock copies[kMaxQueuedBlocks];
};

// The slots live as long as the process: a device thread left behind in a lost server
// may still use its slot while the process exits.
DeviceSlot& deviceSlot(int slot);

// The device thread of `slot`, started detached for each opening: waits for the last
// device to be let go, opens, reports, streams until asked to stop, resets, waits for the
// close, closes.
void deviceThread(int slot);

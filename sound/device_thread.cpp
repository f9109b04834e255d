// The device thread: the one loop that drives a platform's device verbs
// (sound/wave_device.h) and tells the worker what became of them. Every call into the
// sound system happens here, so a frozen server holds this thread and never the worker
// (sound/device_thread_output.h says why).
#include <chrono>
#include <thread>

#include "sound/device_slot.h"
#include "sound/wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;

bool closeWanted(int slot)
{
    DeviceSlot& s = deviceSlot(slot);
    std::lock_guard<std::mutex> g(s.lock);
    return s.closeWanted;
}

bool otherSlotBusy(int self)
{
    for (int i = 0; i < kDeviceSlots; ++i) {
        if (i == self)
            continue;
        DeviceSlot& s = deviceSlot(i);
        std::lock_guard<std::mutex> g(s.lock);
        if (s.busy)
            return true;
    }
    return false;
}

// Waits, bounded, until no other slot's device is held any more (a device without a
// server may take one stream at a time); false if the worker gave this device up
// meanwhile (its session ended before the device was open).
bool awaitDeviceRelease(int slot)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReleaseWaitMs);
    while (otherSlotBusy(slot) && Clock::now() < deadline) {
        if (closeWanted(slot))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Changes what the worker sees of the slot, under its lock, and tells the worker.
template <typename Change>
void tell(int slot, Change change)
{
    DeviceSlot& s = deviceSlot(slot);
    std::lock_guard<std::mutex> g(s.lock);
    change(s);
    s.news.notify_all();
}

// The blocks handed over so far and which block each of the last two is; false once the
// worker has asked to stop.
bool takeHanded(int slot, std::uint64_t* handed, int* handedIndex)
{
    DeviceSlot& s = deviceSlot(slot);
    std::lock_guard<std::mutex> g(s.lock);
    if (s.stopWanted || s.closeWanted)
        return false;
    *handed = s.handed;
    for (int k = 0; k < kMaxQueuedBlocks; ++k)
        handedIndex[k] = s.handedIndex[k];
    return true;
}

// Writes the blocks handed over and reports those played, until the worker asks to stop
// or the device fails.
void stream(int slot)
{
    std::uint64_t written = 0;  // blocks the device has taken whole
    std::uint64_t reported = 0; // blocks played that the worker has been told of
    for (;;) {
        std::uint64_t handed;
        int handedIndex[kMaxQueuedBlocks];
        if (!takeHanded(slot, &handed, handedIndex))
            return;
        bool blockWaiting = false;
        while (written < handed && !blockWaiting) {
            switch (waveDeviceWrite(slot, handedIndex[written % kMaxQueuedBlocks])) {
            case BlockWrite::Taken:
                ++written;
                break;
            case BlockWrite::Full:
                blockWaiting = true;
                break;
            case BlockWrite::Failed:
                return;
            }
        }
        std::uint64_t played = 0;
        if (!waveDevicePlayed(slot, &played))
            return;
        // The worker is woken only for blocks newly played, not for every ask.
        if (played > reported) {
            reported = played;
            tell(slot, [played](DeviceSlot& s) { s.played = played; });
        }
        if (!waveDeviceWait(slot, blockWaiting))
            return;
    }
}

} // namespace

void deviceThread(int slot)
{
    const bool ok = awaitDeviceRelease(slot) && waveDeviceOpen(slot, deviceSlot(slot).copies);
    // A device that could not be had frees its slot at once.
    tell(slot, [ok](DeviceSlot& s) {
        s.opened = ok ? 1 : -1;
        s.busy = ok;
    });
    if (!ok)
        return;

    stream(slot);
    // Either the worker asked to stop, or else the device failed: tell the worker (its
    // waits end at once) and cut the output.
    tell(slot, [](DeviceSlot& s) { s.failed = !s.stopWanted && !s.closeWanted; });
    waveDeviceReset(slot);
    tell(slot, [](DeviceSlot& s) { s.stopped = true; });
    // Wait for the close without a bound: the worker always asks for it, and an abandoned
    // slot is already marked closing.
    while (!closeWanted(slot))
        waveDeviceAwaitAsk(slot);
    waveDeviceClose(slot);
    // The slot is free for a later session.
    tell(slot, [](DeviceSlot& s) { s.busy = false; });
}

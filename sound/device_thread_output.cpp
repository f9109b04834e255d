// The worker's side of the sound output (sound/device_thread_output.h): it hands blocks
// to the device thread of a slot and waits, bounded, for that thread's news.
#include "sound/device_thread_output.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "sound/device_slot.h"
#include "sound/wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long opening may take before the device counts as lost. A healthy server answers
// within a few milliseconds.
constexpr std::uint32_t kServerAnswerMs = 2000;
// How long the worker waits at the end of a session for the device to stop and close;
// a healthy server does both within a few milliseconds. Past it the device closes on its
// own thread, and the worker is free at once for the next session.
constexpr std::uint32_t kLetGoMs = 100;

// Never destroyed: a device thread left behind in a lost server may still use its slot
// while the process exits.
DeviceSlot* const gSlots = new DeviceSlot[kDeviceSlots];

// The worker's side.
int gActive = -1;                 // the slot of the open device
const SampleBlock* gBlocks = nullptr;
std::uint64_t gNoticesTaken = 0;  // played blocks already reported by waveOutputWait
bool gOpenNoticeTaken = false;
// Until when the worker waits for the device to stop and close, from the reset on.
Clock::time_point gLetGoBy;
// Set by waveOutputWake from any thread, taken by the worker's next wait.
std::atomic<bool> gWakeWanted{false};

template <typename Done>
bool awaitNewsUntil(DeviceSlot& s, Clock::time_point deadline, Done done)
{
    std::unique_lock<std::mutex> g(s.lock);
    return s.news.wait_until(g, deadline, done);
}

// Asks the device thread for the stop and the close, under the lock, and wakes it.
void askToEnd(int slot, bool close)
{
    DeviceSlot& s = gSlots[slot];
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.stopWanted = true;
        if (close)
            s.closeWanted = true;
    }
    waveDeviceAsk(slot);
}

// Leaves the device to its thread: the slot stays busy until that thread has closed it.
void abandon(int slot)
{
    askToEnd(slot, true);
    gActive = -1;
}

} // namespace

DeviceSlot& deviceSlot(int slot)
{
    return gSlots[slot];
}

bool waitForDeviceThreads(std::uint32_t timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool allLetGo = true;
    for (int i = 0; i < kDeviceSlots; ++i) {
        DeviceSlot& s = gSlots[i];
        allLetGo = awaitNewsUntil(s, deadline, [&s] { return !s.busy; }) && allLetGo;
    }
    return allLetGo;
}

// ---- the worker's side ----------------------------------------------------

bool waveOutputOpen(SampleBlock* blocks)
{
    int slot = -1;
    for (int i = 0; i < kDeviceSlots && slot < 0; ++i) {
        std::lock_guard<std::mutex> g(gSlots[i].lock);
        if (!gSlots[i].busy)
            slot = i;
    }
    if (slot < 0)
        return false; // every earlier device is still stuck in a lost server
    DeviceSlot& s = gSlots[slot];
    // A wake from now on is this session's Stop; one left over from an earlier session
    // is forgotten.
    gWakeWanted.store(false, std::memory_order_release);
    if (!waveDevicePrepare(slot))
        return false;
    waveDeviceForget(slot);
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.handed = 0;
        s.stopWanted = false;
        s.closeWanted = false;
        s.opened = 0;
        s.played = 0;
        s.stopped = false;
        s.failed = false;
        s.busy = true;
    }
    try {
        std::thread(deviceThread, slot).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> g(s.lock);
        s.busy = false;
        return false;
    }
    gActive = slot;
    // Stop ends the wait too: a session over before its device opened leaves the device
    // to its thread, which lets it go once it is open.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReleaseWaitMs + kServerAnswerMs);
    awaitNewsUntil(s, deadline, [&s] {
        return s.opened != 0 || gWakeWanted.load(std::memory_order_acquire);
    });
    bool opened;
    {
        std::lock_guard<std::mutex> g(s.lock);
        opened = s.opened > 0;
    }
    if (!opened) {
        // No device, no answer within the bound, or the session ended while it opened: a
        // thread still opening is left to let the device go.
        abandon(slot);
        return false;
    }
    gBlocks = blocks;
    gNoticesTaken = 0;
    gOpenNoticeTaken = false;
    return true;
}

void waveOutputQueue(int index)
{
    if (gActive < 0 || index < 0 || index >= kMaxQueuedBlocks)
        return;
    DeviceSlot& s = gSlots[gActive];
    {
        std::lock_guard<std::mutex> g(s.lock);
        // Two blocks unplayed are all the copies hold; the worker never queues a third,
        // and one that did would overwrite a block still playing.
        if (s.handed - s.played >= kMaxQueuedBlocks)
            return;
    }
    // The device thread reads this copy only between the handing over below and the
    // block's being played, so it is free to fill now.
    s.copies[index] = gBlocks[index];
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.handedIndex[s.handed % kMaxQueuedBlocks] = index;
        ++s.handed;
    }
    waveDeviceAsk(gActive);
}

WaveWait waveOutputWait(std::uint32_t timeoutMs)
{
    if (gActive < 0)
        return WaveWait::Failed;
    if (gWakeWanted.exchange(false, std::memory_order_acq_rel))
        return WaveWait::Woken;
    if (!gOpenNoticeTaken) {
        gOpenNoticeTaken = true;
        return WaveWait::Notified;
    }
    DeviceSlot& s = gSlots[gActive];
    const std::uint64_t want = gNoticesTaken + 1;
    const bool news = awaitNewsUntil(s, Clock::now() + std::chrono::milliseconds(timeoutMs),
                                     [&s, want] {
        return s.played >= want || s.failed || gWakeWanted.load(std::memory_order_acquire);
    });
    std::lock_guard<std::mutex> g(s.lock);
    if (s.played >= want) {
        gNoticesTaken = want;
        return WaveWait::Notified;
    }
    if (news && gWakeWanted.exchange(false, std::memory_order_acq_rel))
        return WaveWait::Woken;
    return WaveWait::Failed; // no news within the bound, or the device failed
}

void waveOutputWake()
{
    gWakeWanted.store(true, std::memory_order_release);
    // The worker waits on its slot's news; every slot is told (the lock orders the wake
    // after the worker's look at the predicate).
    for (int i = 0; i < kDeviceSlots; ++i) {
        std::lock_guard<std::mutex> g(gSlots[i].lock);
        gSlots[i].news.notify_all();
    }
}

void waveOutputReset()
{
    if (gActive < 0)
        return;
    const int slot = gActive;
    DeviceSlot& s = gSlots[slot];
    askToEnd(slot, false);
    gLetGoBy = Clock::now() + std::chrono::milliseconds(kLetGoMs);
    if (!awaitNewsUntil(s, gLetGoBy, [&s] { return s.stopped; }))
        abandon(slot);
}

void waveOutputClose()
{
    if (gActive < 0)
        return;
    const int slot = gActive;
    DeviceSlot& s = gSlots[slot];
    askToEnd(slot, true);
    // A device closed by now is free for the next session at once; one that is not keeps
    // its slot until its thread has closed it, and the next session's device waits for
    // that in its own thread.
    awaitNewsUntil(s, gLetGoBy, [&s] { return !s.busy; });
    gActive = -1;
    gBlocks = nullptr;
}

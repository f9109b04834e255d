// The wave output seam on Windows: winmm's wave mapper, driven from a device thread of
// its own.
//
// The device signals an auto-reset event (CALLBACK_EVENT) once when it has opened and
// once per played block. Every winmm call runs on the device thread: a sound system that
// stops answering (a frozen sound server under Wine) holds waveOutOpen, waveOutReset and
// waveOutClose for as long as it likes. The audio worker only hands blocks over and
// waits, bounded, for the device thread's news; a device that keeps silent past the bound
// is abandoned to its thread, which resets and closes it whenever the system lets go,
// and the session goes on silent.
//
// At the end of a session the worker waits only briefly for the device to stop and
// close, so the next session never waits for a stuck sound system: a device still
// closing is left to its thread, and the next session's device thread waits, bounded,
// for it to be let go before it opens the device again.
#include "sound/wave_output.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "sound/block_synth.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long opening may take before the device counts as lost.
constexpr std::uint32_t kServerAnswerMs = 2000;
// How long the worker waits at the end of a session for the device to stop and close.
constexpr std::uint32_t kLetGoMs = 100;
// How long a new device thread waits for the last session's device to be let go.
constexpr std::uint32_t kReleaseWaitMs = 2000;
// A device thread stuck in the sound system holds its slot; one more is enough for the
// next session to get sound as soon as the system answers again.
constexpr int kSlots = 2;
constexpr int kMaxQueued = 2;
constexpr UINT kHeaderSize = sizeof(WAVEHDR);

struct Slot {
    std::mutex lock;
    std::condition_variable news; // the device thread has something for the worker

    // Written by the worker, under the lock.
    std::uint64_t handed = 0;       // blocks handed over since open
    int handedIndex[kMaxQueued] {}; // which block each of the last two handed ones is
    bool stopWanted = false;
    bool closeWanted = false;

    // Written by the device thread, under the lock.
    int opened = 0;           // 0 pending, 1 open, -1 no device
    std::uint64_t played = 0; // blocks the device has finished
    bool stopped = false;
    bool failed = false;
    bool busy = false;        // a device thread owns the slot

    // The worker's copies of the blocks, which the device reads through the headers: a
    // block is copied in when it is queued and read by the device only until it has been
    // played, so an abandoned device never reads storage the next session writes.
    SampleBlock copies[kMaxQueued];
    WAVEHDR headers[kMaxQueued] {};

    HANDLE blockDone = nullptr; // auto-reset: the device opened or finished a block
    HANDLE asked = nullptr;     // auto-reset: the worker asks for something
};

// Never destroyed: a device thread left behind in a stuck sound system may still use its
// slot while the process exits.
Slot* const gSlots = new Slot[kSlots];
Slot* gActive = nullptr;          // the slot of the open device, on the worker's side
const SampleBlock* gBlocks = nullptr;
std::uint64_t gNoticesTaken = 0;  // played blocks already reported by waveOutputWait
bool gOpenNoticeTaken = false;
// Set by waveOutputWake from any thread, taken by the worker's next wait.
std::atomic<bool> gWakeWanted{false};
// Until when the worker waits for the device to stop and close, from the reset on.
Clock::time_point gLetGoBy;

// ---- the device thread -----------------------------------------------------------

bool otherSlotBusy(const Slot* self)
{
    for (int i = 0; i < kSlots; ++i) {
        if (&gSlots[i] == self)
            continue;
        std::lock_guard<std::mutex> g(gSlots[i].lock);
        if (gSlots[i].busy)
            return true;
    }
    return false;
}

// Waits, bounded, until the last session's device has been closed; false if the worker
// gave this device up meanwhile.
bool awaitRelease(Slot& s)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReleaseWaitMs);
    while (otherSlotBusy(&s) && Clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.closeWanted)
                return false;
        }
        Sleep(1);
    }
    return true;
}

bool openDevice(Slot& s, HWAVEOUT* out)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kSampleRate;
    format.nAvgBytesPerSec = kSampleRate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    if (waveOutOpen(out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(s.blockDone), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return false;
    for (int k = 0; k < kMaxQueued; ++k) {
        s.headers[k] = WAVEHDR{};
        s.headers[k].lpData = reinterpret_cast<LPSTR>(s.copies[k].samples);
        s.headers[k].dwBufferLength = kBlockBytes;
        s.headers[k].dwLoops = 1;
        waveOutPrepareHeader(*out, &s.headers[k], kHeaderSize);
    }
    return true;
}

// Whether the device has finished the header: the flag is set by the sound system's
// thread, before it signals the event this thread waits on.
bool headerDone(const WAVEHDR& h)
{
    return (static_cast<const volatile DWORD&>(h.dwFlags) & WHDR_DONE) != 0;
}

// Writes the blocks handed over and reports those played, until the worker asks to stop
// or the device fails.
void stream(Slot& s, HWAVEOUT out)
{
    std::uint64_t written = 0; // blocks written to the device
    std::uint64_t done = 0;    // of those, finished
    for (;;) {
        std::uint64_t handed;
        int handedIndex[kMaxQueued];
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.stopWanted || s.closeWanted)
                return;
            handed = s.handed;
            std::memcpy(handedIndex, s.handedIndex, sizeof handedIndex);
        }
        while (written < handed) {
            WAVEHDR& h = s.headers[handedIndex[written % kMaxQueued]];
            if (waveOutWrite(out, &h, kHeaderSize) != MMSYSERR_NOERROR)
                return;
            ++written;
        }
        // Blocks finish in the order they were written.
        while (done < written && headerDone(s.headers[handedIndex[done % kMaxQueued]]))
            ++done;
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (done > s.played) {
                s.played = done;
                s.news.notify_all();
            }
        }
        const HANDLE events[2] = {s.blockDone, s.asked};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_FAILED)
            return;
    }
}

void deviceThread(Slot* slot)
{
    Slot& s = *slot;
    HWAVEOUT out = nullptr;
    const bool ok = awaitRelease(s) && openDevice(s, &out);
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.opened = ok ? 1 : -1;
        if (!ok)
            s.busy = false;
        s.news.notify_all();
    }
    if (!ok)
        return;

    stream(s, out);
    {
        // Either the worker asked to stop, or the device failed: tell the worker (its
        // waits end at once) and cut the output.
        std::lock_guard<std::mutex> g(s.lock);
        if (!s.stopWanted && !s.closeWanted)
            s.failed = true;
        s.news.notify_all();
    }
    waveOutReset(out);
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.stopped = true;
        s.news.notify_all();
    }
    // Wait for close without a bound: the worker always asks for it, and an abandoned
    // slot is already marked closing.
    for (;;) {
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.closeWanted)
                break;
        }
        WaitForSingleObject(s.asked, INFINITE);
    }
    for (int k = 0; k < kMaxQueued; ++k)
        waveOutUnprepareHeader(out, &s.headers[k], kHeaderSize);
    waveOutClose(out);
    std::lock_guard<std::mutex> g(s.lock);
    s.busy = false;
    s.news.notify_all();
}

// ---- the worker's side -------------------------------------------------------------

template <typename Done>
bool awaitNewsUntil(Slot& s, Clock::time_point deadline, Done done)
{
    std::unique_lock<std::mutex> g(s.lock);
    return s.news.wait_until(g, deadline, done);
}

template <typename Done>
bool awaitNews(Slot& s, std::uint32_t timeoutMs, Done done)
{
    return awaitNewsUntil(s, Clock::now() + std::chrono::milliseconds(timeoutMs), done);
}

// Leaves the device to its thread: the slot stays busy until that thread has closed it.
void abandon(Slot& s)
{
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.stopWanted = true;
        s.closeWanted = true;
    }
    SetEvent(s.asked);
    gActive = nullptr;
}

} // namespace

bool waveOutputOpen(SampleBlock* blocks)
{
    Slot* slot = nullptr;
    for (int i = 0; i < kSlots && slot == nullptr; ++i) {
        std::lock_guard<std::mutex> g(gSlots[i].lock);
        if (!gSlots[i].busy)
            slot = &gSlots[i];
    }
    if (slot == nullptr)
        return false; // every earlier device is still stuck in the sound system
    Slot& s = *slot;
    // A wake from now on is this session's Stop; one left over from an earlier session
    // is forgotten.
    gWakeWanted.store(false, std::memory_order_release);
    if (s.blockDone == nullptr)
        s.blockDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (s.asked == nullptr)
        s.asked = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (s.blockDone == nullptr || s.asked == nullptr)
        return false;
    ResetEvent(s.blockDone);
    ResetEvent(s.asked);
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
        std::thread(deviceThread, &s).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> g(s.lock);
        s.busy = false;
        return false;
    }
    gActive = &s;
    // Stop ends the wait too: a session over before its device opened leaves the device
    // to its thread, which lets it go once it is open.
    if (!awaitNews(s, kReleaseWaitMs + kServerAnswerMs, [&s] {
            return s.opened != 0 || gWakeWanted.load(std::memory_order_acquire);
        })) {
        abandon(s);
        return false;
    }
    bool opened;
    {
        std::lock_guard<std::mutex> g(s.lock);
        opened = s.opened > 0;
    }
    if (!opened) {
        abandon(s);
        return false;
    }
    gBlocks = blocks;
    gNoticesTaken = 0;
    gOpenNoticeTaken = false;
    return true;
}

void waveOutputQueue(int index)
{
    if (gActive == nullptr || index < 0 || index >= kMaxQueued)
        return;
    Slot& s = *gActive;
    {
        std::lock_guard<std::mutex> g(s.lock);
        // Two blocks unplayed are all the copies hold; the worker never queues a third,
        // and one that did would overwrite a block still playing.
        if (s.handed - s.played >= kMaxQueued)
            return;
    }
    // The device reads this copy only between the handing over below and the block's
    // being played, so it is free to fill now.
    s.copies[index] = gBlocks[index];
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.handedIndex[s.handed % kMaxQueued] = index;
        ++s.handed;
    }
    SetEvent(s.asked);
}

WaveWait waveOutputWait(std::uint32_t timeoutMs)
{
    if (gActive == nullptr)
        return WaveWait::Failed;
    if (gWakeWanted.exchange(false, std::memory_order_acq_rel))
        return WaveWait::Woken;
    if (!gOpenNoticeTaken) {
        gOpenNoticeTaken = true;
        return WaveWait::Notified;
    }
    Slot& s = *gActive;
    const std::uint64_t want = gNoticesTaken + 1;
    const bool news = awaitNews(s, timeoutMs, [&s, want] {
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
    for (int i = 0; i < kSlots; ++i) {
        std::lock_guard<std::mutex> g(gSlots[i].lock);
        gSlots[i].news.notify_all();
    }
}

void waveOutputReset()
{
    if (gActive == nullptr)
        return;
    Slot& s = *gActive;
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.stopWanted = true;
    }
    SetEvent(s.asked);
    gLetGoBy = Clock::now() + std::chrono::milliseconds(kLetGoMs);
    if (!awaitNewsUntil(s, gLetGoBy, [&s] { return s.stopped; }))
        abandon(s);
}

void waveOutputClose()
{
    if (gActive == nullptr)
        return;
    Slot& s = *gActive;
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.stopWanted = true;
        s.closeWanted = true;
    }
    SetEvent(s.asked);
    // A device closed by now is free for the next session at once; one that is not keeps
    // its slot until its thread has closed it, and the next session's device waits for
    // that in its own thread.
    awaitNewsUntil(s, gLetGoBy, [&s] { return !s.busy; });
    gActive = nullptr;
    gBlocks = nullptr;
}

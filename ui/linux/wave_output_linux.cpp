// The wave output seam over ALSA's "default" PCM.
//
// Every ALSA call runs on a device thread of its own. Through the PulseAudio plugin,
// starting, preparing, stopping and closing a stream each wait for the sound server to
// answer, and a server that has stopped answering holds them for half a minute or more.
// The audio worker therefore only hands blocks over and waits, bounded, for the device
// thread's news; a device that keeps silent past the bound is abandoned to its thread,
// which closes it whenever the server lets go, and the session goes on silent.
//
// At the end of a session the worker waits only briefly for the device to stop and
// close, so the next session never waits for a slow or frozen server: a device still
// closing is left to its thread, and the next session's device thread waits, bounded,
// for it to be let go before it opens the device again (a device without a server may
// take one stream at a time).
//
// One period is one block and the ring is asked for two (PulseAudio grants three), so the
// device plays one block while the worker computes the other. A block counts as played
// once the device's delay says its last frame has been heard. Playback starts only once
// the worker has handed over both blocks, so the first block never runs dry; an underrun
// (a refill that came too late) only leaves a gap, and the stream plays on.
//
// The stream is started by the write that fills it to its start threshold, never by an
// explicit snd_pcm_start: PipeWire, through its own ALSA plugin and through its PulseAudio
// layer, dropped the first quantum (256 frames at 44.1 kHz) of a stream started
// explicitly once its blocks were in, while a stream started by its write, as aplay
// starts one, keeps every frame.
#include "sound/wave_output.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

// How long opening may take before the device counts as lost. A healthy server answers
// within a few milliseconds.
constexpr std::uint32_t kServerAnswerMs = 2000;
// How long the worker waits at the end of a session for the device to stop and close;
// a healthy server does both within a few milliseconds. Past it the device closes on its
// own thread, and the worker is free at once for the next session.
constexpr std::uint32_t kLetGoMs = 100;
// How long a new device thread waits for the last session's device to be let go.
constexpr std::uint32_t kReleaseWaitMs = 2000;
// A device thread still stuck in a lost server holds its slot; one more is enough for
// the next session to get sound as soon as the server is back.
constexpr int kSlots = 2;
constexpr int kMaxQueued = 2;
// How soon a block the ring had no room for is offered again.
constexpr int kRetryWriteMs = 5;

struct Slot {
    std::mutex lock;
    std::condition_variable news; // the device thread has something for the worker

    // Written by the worker, under the lock.
    std::uint64_t handed = 0;       // blocks handed over since open
    int handedIndex[kMaxQueued] {}; // which block each of the last two handed ones is
    bool stopWanted = false;
    bool closeWanted = false;

    // Written by the device thread, under the lock.
    int opened = 0;               // 0 pending, 1 open, -1 no device
    std::uint64_t played = 0;     // blocks the device has finished
    bool stopped = false;
    bool failed = false;
    bool busy = false;            // a device thread owns the slot

    // The worker's copies of the blocks: a block is copied in when it is queued and read
    // by the device thread only until it has been played, so an abandoned device thread
    // never reads storage the next session writes.
    SampleBlock copies[kMaxQueued];

    int wakeFd = -1; // eventfd: the worker asks for something
};

// Never destroyed: a device thread left behind in a lost server may still use its slot
// while the process exits.
Slot* const gSlots = new Slot[kSlots];
Slot* gActive = nullptr;          // the slot of the open device, on the worker's side
const SampleBlock* gBlocks = nullptr;
std::uint64_t gNoticesTaken = 0;  // played blocks already reported by waveOutputWait
bool gOpenNoticeTaken = false;
// Set by waveOutputWake from any thread, taken by the worker's next wait.
std::atomic<bool> gWakeWanted{false};
// Until when the worker waits for the device to stop and close, from the reset on.
Clock::time_point gLetGoBy;

void wake(Slot& s)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(s.wakeFd, &one, sizeof one);
}

// ---- the device thread -----------------------------------------------------------

bool configure(snd_pcm_t* pcm, snd_pcm_uframes_t& bufferFrames)
{
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, 2) < 0 ||
        snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0) < 0)
        return false;
    snd_pcm_uframes_t period = kBlockFrames;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    snd_pcm_uframes_t buffer = 2 * kBlockFrames;
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if (snd_pcm_hw_params(pcm, hw) < 0)
        return false;
    // Devices grant other sizes (PulseAudio gives three periods): what counts below is
    // the ring the device really has.
    if (snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames) < 0 || bufferFrames == 0)
        return false;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t boundary = 0;
    if (snd_pcm_sw_params_current(pcm, sw) < 0 ||
        snd_pcm_sw_params_get_boundary(sw, &boundary) < 0)
        return false;
    // The write that completes the second block starts the stream, or the one that fills
    // a ring too small for two.
    const snd_pcm_uframes_t both = 2 * kBlockFrames;
    snd_pcm_sw_params_set_start_threshold(pcm, sw, both < bufferFrames ? both : bufferFrames);
    return snd_pcm_sw_params(pcm, sw) >= 0;
}

// Once the stream has played, the write after an underrun starts it again at once: the
// frames it brings are due already.
bool startOnAnyWrite(snd_pcm_t* pcm)
{
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    return snd_pcm_sw_params_current(pcm, sw) >= 0 &&
           snd_pcm_sw_params_set_start_threshold(pcm, sw, 1) >= 0 &&
           snd_pcm_sw_params(pcm, sw) >= 0;
}

// One open stream, as the device thread sees it.
struct Stream {
    snd_pcm_t* pcm;
    std::uint64_t written = 0;   // frames written to the ring since open
    std::uint64_t heard = 0;     // frames of those the device has played
};

// An underrun or a suspend: what was in the ring has played or is lost, and the stream
// waits prepared for new data. A late refill thus only leaves a gap.
bool recover(Stream& st, int err)
{
    if (snd_pcm_recover(st.pcm, err, 1) < 0)
        return false;
    st.heard = st.written;
    return true;
}

// Writes what the ring takes now of the blocks handed over, without waiting.
bool writeHanded(Slot& s, Stream& st, std::uint64_t handed, const int* handedIndex)
{
    while (st.written < handed * kBlockFrames) {
        const std::uint64_t block = st.written / kBlockFrames;
        const auto offset = static_cast<std::uint32_t>(st.written % kBlockFrames);
        const std::int16_t* from = s.copies[handedIndex[block % kMaxQueued]].samples + 2 * offset;
        const snd_pcm_sframes_t n = snd_pcm_writei(st.pcm, from, kBlockFrames - offset);
        if (n == -EAGAIN || n == 0)
            return true; // the ring is full
        if (n < 0) {
            if (!recover(st, static_cast<int>(n)))
                return false;
            continue;
        }
        st.written += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Brings the count of frames the device has played up to date: everything written but
// the delay, which is what the device still has to play before a frame written now.
// The ring's free room would be no measure: PulseAudio frees it in lumps, as the server
// asks for more.
bool measure(Stream& st)
{
    switch (snd_pcm_state(st.pcm)) {
    case SND_PCM_STATE_PREPARED:
        // Not playing yet, or not again since an underrun: nothing more has been heard,
        // and PulseAudio has no delay to tell before the stream runs.
        return true;
    case SND_PCM_STATE_XRUN:
        return recover(st, -EPIPE);
    case SND_PCM_STATE_SUSPENDED:
        return recover(st, -ESTRPIPE);
    default:
        break;
    }
    snd_pcm_sframes_t delay = 0;
    const int err = snd_pcm_delay(st.pcm, &delay);
    if (err == -EPIPE || err == -ESTRPIPE)
        return recover(st, err);
    if (err < 0)
        // For a moment after a stream starts, PulseAudio may have no timing to tell yet
        // (EIO): look again shortly. A device that is really gone shows as disconnected,
        // and one that stays silent is given up by the worker's bounded wait.
        return snd_pcm_state(st.pcm) != SND_PCM_STATE_DISCONNECTED;
    const std::uint64_t pending = delay > 0 ? static_cast<std::uint64_t>(delay) : 0;
    const std::uint64_t played = st.written > pending ? st.written - pending : 0;
    if (played > st.heard)
        st.heard = played;
    return true;
}

// Sleeps until the worker asks for something or, when `timeoutMs` is not negative,
// until the device should have taken the block it is playing. The PCM's own descriptors
// are no help here: with PulseAudio the ring holds three blocks, so it always has a
// block's room while two are queued.
void sleepUntilNews(Slot& s, int timeoutMs)
{
    pollfd fd{s.wakeFd, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) > 0) {
        std::uint64_t asked;
        [[maybe_unused]] const ssize_t n = read(s.wakeFd, &asked, sizeof asked);
    }
}

// Milliseconds until the block the device is playing should be taken, rounded up and a
// little over, so the next look finds it done; -1 when nothing is playing.
int msUntilBlockEnd(const Stream& st)
{
    std::uint64_t end = (st.heard / kBlockFrames + 1) * kBlockFrames;
    if (end > st.written)
        end = st.written;
    if (end <= st.heard)
        return -1;
    return static_cast<int>((end - st.heard) * 1000 / kSampleRate) + 2;
}

void stream(Slot& s, Stream& st)
{
    bool started = false;
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
        if (!writeHanded(s, st, handed, handedIndex))
            return;
        if (!started && snd_pcm_state(st.pcm) != SND_PCM_STATE_PREPARED) {
            started = true;
            if (!startOnAnyWrite(st.pcm))
                return;
        }
        if (!measure(st))
            return;
        {
            // A block is played once the device has taken its last frame.
            std::lock_guard<std::mutex> g(s.lock);
            const std::uint64_t played = st.heard / kBlockFrames;
            if (played > s.played) {
                s.played = played;
                s.news.notify_all();
            }
        }
        // PulseAudio makes room in the ring only when its server asks for more, which
        // can come after the ring has run empty; a block the ring did not take yet is
        // offered again shortly rather than left waiting for news that never comes.
        int sleepMs = started ? msUntilBlockEnd(st) : -1;
        if (st.written < handed * kBlockFrames && (sleepMs < 0 || sleepMs > kRetryWriteMs))
            sleepMs = kRetryWriteMs;
        sleepUntilNews(s, sleepMs);
    }
}

// Whether a device thread other than the one of `self` still holds a device.
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
// gave this device up meanwhile (its session ended before the device was open).
bool awaitRelease(Slot& s)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReleaseWaitMs);
    while (otherSlotBusy(&s) && Clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.closeWanted)
                return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void deviceThread(Slot* slot)
{
    Slot& s = *slot;
    snd_pcm_t* pcm = nullptr;
    snd_pcm_uframes_t bufferFrames = 0;
    if (!awaitRelease(s)) {
        std::lock_guard<std::mutex> g(s.lock);
        s.opened = -1;
        s.busy = false;
        s.news.notify_all();
        return;
    }
    bool ok = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) >= 0;
    if (ok && (!configure(pcm, bufferFrames) || snd_pcm_prepare(pcm) < 0)) {
        snd_pcm_close(pcm);
        ok = false;
    }
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.opened = ok ? 1 : -1;
        if (!ok)
            s.busy = false;
        s.news.notify_all();
    }
    if (!ok)
        return;

    Stream st{pcm};
    stream(s, st);
    {
        // Either the worker asked to stop, or the device failed: tell the worker (its
        // waits end at once) and cut the output.
        std::lock_guard<std::mutex> g(s.lock);
        if (!s.stopWanted && !s.closeWanted)
            s.failed = true;
        s.news.notify_all();
    }
    snd_pcm_drop(pcm);
    {
        std::unique_lock<std::mutex> g(s.lock);
        s.stopped = true;
        s.news.notify_all();
    }
    // Wait for close without a bound: the worker always asks for it, and an abandoned
    // slot is already marked closing.
    {
        std::unique_lock<std::mutex> g(s.lock);
        while (!s.closeWanted) {
            g.unlock();
            pollfd fd{s.wakeFd, POLLIN, 0};
            poll(&fd, 1, -1);
            std::uint64_t asked;
            [[maybe_unused]] const ssize_t n = read(s.wakeFd, &asked, sizeof asked);
            g.lock();
        }
    }
    snd_pcm_close(pcm);
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
    wake(s);
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
        return false; // every earlier device is still stuck in a lost server
    Slot& s = *slot;
    // A wake from now on is this session's Stop; one left over from an earlier session
    // is forgotten.
    gWakeWanted.store(false, std::memory_order_release);
    if (s.wakeFd < 0) {
        s.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (s.wakeFd < 0)
            return false;
    }
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
    std::uint64_t stale;
    [[maybe_unused]] const ssize_t n = read(s.wakeFd, &stale, sizeof stale);
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
        // No device, or the session ended while it opened: a thread still opening is
        // left to let the device go.
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
        // Two blocks unplayed are all the ring and the copies hold; the worker never
        // queues a third, and one that did would overwrite a block still playing.
        if (s.handed - s.played >= kMaxQueued)
            return;
    }
    // The device thread reads this copy only between the handing over below and the
    // block's being played, so it is free to fill now.
    s.copies[index] = gBlocks[index];
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.handedIndex[s.handed % kMaxQueued] = index;
        ++s.handed;
    }
    wake(s);
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
    // The worker waits on its slot's news; which slot is its own is the worker's
    // business, so every slot is told (the lock orders the wake after the worker's look
    // at the predicate).
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
    wake(s);
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
    wake(s);
    // A device closed by now is free for the next session at once; one that is not
    // keeps its slot until its thread has closed it, and the next session's device
    // waits for that in its own thread.
    awaitNewsUntil(s, gLetGoBy, [&s] { return !s.busy; });
    gActive = nullptr;
    gBlocks = nullptr;
}

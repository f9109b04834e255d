// The strobe seam on Linux: a thread of our own wakes every 2 ms on absolute deadlines
// of CLOCK_MONOTONIC and derives the tick from the time elapsed since the strobe
// started, so a late wake-up never slows the flicker, it only skips ahead. The tick
// publishes its grey in an atomic; painting belongs to the stimulation window, which
// repaints once per display frame with the level current then.
#include "visual/strobe_timer.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>

#include "ui/linux/face_probe.h"
#include "ui/linux/strobe_published.h"
#include "visual/strobe_level.h"
#include "visual/strobe_worker.h"

namespace {

constexpr std::int64_t kTickNs = std::int64_t{kStrobeTickMs} * 1000000;
constexpr std::int64_t kNsPerSecond = 1000000000;

std::atomic<std::uint8_t> gLevel{0};
std::atomic<bool> gTicking{false};
std::atomic<int> gTimersNow{0};
std::atomic<int> gTimersMost{0};
std::int64_t gOriginNs = 0;
std::thread gTickThread;

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
}

void tickLoop()
{
    const int now = gTimersNow.fetch_add(1, std::memory_order_acq_rel) + 1;
    int most = gTimersMost.load(std::memory_order_acquire);
    while (now > most && !gTimersMost.compare_exchange_weak(most, now)) {
    }

    // A tick takes microseconds; on a busy machine it is the wait for a core that makes it
    // late. The lowest real-time priority, where the system grants it, puts the tick
    // ahead of ordinary work; where it does not, the tick runs as an ordinary thread.
    sched_param realtime{};
    realtime.sched_priority = sched_get_priority_min(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);

    const std::int64_t origin = gOriginNs;
    while (gTicking.load(std::memory_order_acquire)) {
        const std::int64_t elapsed = monotonicNs() - origin;
        const auto tick = static_cast<std::uint32_t>(elapsed / kTickNs);
        strobeTickAt(tick);
        const std::int64_t due = origin + (std::int64_t{tick} + 1) * kTickNs;
        const timespec deadline{static_cast<time_t>(due / kNsPerSecond),
                                static_cast<long>(due % kNsPerSecond)};
        // Interrupted sleeps simply tick early once; the tick is recomputed from the clock.
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    }
    gTimersNow.fetch_sub(1, std::memory_order_acq_rel);
}

} // namespace

// The window itself is the UI thread's; all the strobe owns is the published grey, black
// before the first tick and after the last.
void strobeTimerStart()
{
    if (gTickThread.joinable())
        return;
    gLevel.store(0, std::memory_order_release);
    gOriginNs = monotonicNs();
    gTicking.store(true, std::memory_order_release);
    try {
        gTickThread = std::thread(tickLoop);
    } catch (const std::system_error&) {
        // No thread to be had: the window stays black, the sound goes on.
        gTicking.store(false, std::memory_order_release);
    }
}

void strobeTimerStop()
{
    gTicking.store(false, std::memory_order_release);
    if (gTickThread.joinable())
        gTickThread.join();
    gLevel.store(0, std::memory_order_release);
}

void strobeShow(std::uint8_t level)
{
    gLevel.store(level, std::memory_order_release);
}

std::uint8_t strobePublishedLevel()
{
    return gLevel.load(std::memory_order_acquire);
}

std::int64_t strobeTimerOriginNs()
{
    return gOriginNs;
}

int strobeTimersMostAtOnce()
{
    return gTimersMost.load(std::memory_order_acquire);
}

int strobeTimersRunning()
{
    return gTimersNow.load(std::memory_order_acquire);
}

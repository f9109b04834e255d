// The strobe seam on Linux: the 2 ms tick is counted from CLOCK_MONOTONIC since the
// strobe started, at the moment the stimulation window reads the grey, once per display
// frame. The window shows the grey of the tick that is due then, exactly as a thread
// ticking every 2 ms would have published it, without waking 500 times a second for
// greys nobody sees. A late frame never slows the flicker; it only skips ahead.
#include "visual/strobe_timer.h"

#include <time.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ui/linux/face_probe.h"
#include "ui/linux/strobe_published.h"
#include "visual/strobe_level.h"
#include "visual/strobe_worker.h"

namespace {

constexpr std::int64_t kTickNs = std::int64_t{kStrobeTickMs} * 1000000;
constexpr std::int64_t kNsPerSecond = 1000000000;

// Held while a tick is counted and while the strobe starts or stops, so no tick runs
// once strobeTimerStop has returned, and the next session's worker, which resets the
// tick counter, never meets a tick of the last session still running.
std::mutex gTickLock;
bool gTicking = false;
std::int64_t gOriginNs = 0;

std::atomic<std::uint8_t> gLevel{0};
std::atomic<int> gTimersNow{0};
std::atomic<int> gTimersMost{0};

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
}

} // namespace

// The window itself is the UI thread's; all the strobe owns is the grey, black before
// the first tick and after the last.
void strobeTimerStart()
{
    std::lock_guard<std::mutex> g(gTickLock);
    if (gTicking)
        return;
    gLevel.store(0, std::memory_order_release);
    gOriginNs = monotonicNs();
    gTicking = true;
    const int now = gTimersNow.fetch_add(1, std::memory_order_acq_rel) + 1;
    int most = gTimersMost.load(std::memory_order_acquire);
    while (now > most && !gTimersMost.compare_exchange_weak(most, now)) {
    }
}

void strobeTimerStop()
{
    std::lock_guard<std::mutex> g(gTickLock);
    if (!gTicking)
        return;
    gTicking = false;
    gTimersNow.fetch_sub(1, std::memory_order_acq_rel);
    gLevel.store(0, std::memory_order_release);
}

void strobeShow(std::uint8_t level)
{
    gLevel.store(level, std::memory_order_release);
}

std::uint8_t strobePublishedLevel()
{
    {
        std::lock_guard<std::mutex> g(gTickLock);
        if (gTicking)
            strobeTickAt(static_cast<std::uint32_t>((monotonicNs() - gOriginNs) / kTickNs));
    }
    return gLevel.load(std::memory_order_acquire);
}

std::int64_t strobeTimerOriginNs()
{
    std::lock_guard<std::mutex> g(gTickLock);
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

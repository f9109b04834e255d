// How late the strobe's 2 ms ticks come: runs the Linux strobe timer for a while and
// records, for every tick it calls, how long after that tick's due time the call came.
// Usage: bench_strobe_lateness [seconds]   (default 10)
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ui/linux/face_probe.h"
#include "visual/strobe_level.h"
#include "visual/strobe_timer.h"
#include "visual/strobe_worker.h"

std::uint32_t tickCounter = 0;

namespace {

constexpr std::int64_t kTickNs = std::int64_t{kStrobeTickMs} * 1000000;
constexpr std::size_t kMaxTicks = 1u << 20;

// Filled by the tick thread only; read after the timer has stopped.
std::vector<std::int64_t> gLateNs;
std::vector<std::uint32_t> gTicks;

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

double percentile(std::vector<std::int64_t> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    return static_cast<double>(v[i]) / 1000.0;
}

} // namespace

// The tick the timer calls: records how long after the due time of the tick it slept
// for (the one after the last) it came, then publishes a level like the program's own
// tick does.
void strobeTickAt(std::uint32_t tick)
{
    const std::uint32_t awaited = gTicks.empty() ? tick : gTicks.back() + 1;
    const std::int64_t late = monotonicNs() - (strobeTimerOriginNs() + std::int64_t{awaited} * kTickNs);
    if (gLateNs.size() < kMaxTicks) {
        gLateNs.push_back(late);
        gTicks.push_back(tick);
    }
    tickCounter = tick + 1;
    strobeShow(strobeLevel(tick, 0.0981747703125));
}

void strobeTick()
{
    strobeTickAt(tickCounter);
}

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds < 1 || seconds > 3600) {
        std::fprintf(stderr, "bench_strobe_lateness: seconds must be a whole number from 1 to 3600\n");
        return 2;
    }
    gLateNs.reserve(kMaxTicks);
    gTicks.reserve(kMaxTicks);
    strobeTimerStart();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    strobeTimerStop();

    // Tick 0 is due when the timer starts, before its thread exists: not a wake-up.
    std::vector<std::int64_t> late(gLateNs.begin() + 1, gLateNs.end());
    std::uint32_t skipped = 0;
    for (std::size_t i = 1; i < gTicks.size(); ++i)
        skipped += gTicks[i] - gTicks[i - 1] - 1;
    std::printf("strobe ticks: %zu over %d s, %u skipped\n", late.size(), seconds, skipped);
    std::printf("lateness p50 %.1f us, p99 %.1f us, max %.1f us\n", percentile(late, 0.50),
                percentile(late, 0.99), percentile(late, 1.0));
    return 0;
}

#include "visual/strobe_worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "settings/settings.h"
#include "visual/strobe_level.h"
#include "visual/strobe_timer.h"

std::uint32_t tickCounter = 0;

namespace {
double gPhaseStep = 0.0;

// Stop wakes the worker's poll, so the tick stops with the picture.
std::mutex gPollLock;
std::condition_variable gPollWake;
} // namespace

void strobeTick()
{
    strobeShow(strobeLevel(tickCounter, gPhaseStep));
    ++tickCounter;
}

void strobeTickAt(std::uint32_t tick)
{
    tickCounter = tick;
    strobeTick();
}

void StrobeWorker(const SessionFlagType* flag)
{
    tickCounter = 0;
    const bool strobe = gStimulationSettings.visualMode == VisualStrobe;
    if (strobe) {
        gPhaseStep = phaseStep(ticksPerCycle(gStimulationSettings.frequency));
        strobeTimerStart();
    }
    {
        std::unique_lock<std::mutex> lock(gPollLock);
        while (sessionRunning(flag))
            gPollWake.wait_for(lock, std::chrono::milliseconds(kStrobePollMs));
    }
    if (strobe)
        strobeTimerStop();
}

void wakeStrobeWorker()
{
    // Taking the lock orders the wake after the worker's look at the flag, so a wake can
    // never fall between that look and the worker's wait.
    std::lock_guard<std::mutex> lock(gPollLock);
    gPollWake.notify_all();
}

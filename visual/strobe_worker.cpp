#include "visual/strobe_worker.h"

#include <chrono>
#include <thread>

#include "session/settings.h"
#include "visual/strobe_level.h"
#include "visual/strobe_timer.h"

std::uint32_t tickCounter = 0;

namespace {
double gPhaseStep = 0.0;
}

void strobeTick()
{
    strobeFill(strobeLevel(tickCounter, gPhaseStep));
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
    strobeSurfaceAcquire();
    const bool strobe = gStimulationSettings.visualMode == VisualStrobe;
    if (strobe) {
        gPhaseStep = phaseStep(ticksPerCycle(gStimulationSettings.frequency));
        strobeTimerStart();
    }
    while (sessionRunning(flag))
        std::this_thread::sleep_for(std::chrono::milliseconds(kStrobePollMs));
    if (strobe)
        strobeTimerStop();
    strobeSurfaceRelease();
}

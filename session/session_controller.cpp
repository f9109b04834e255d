#include "session/session_controller.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "session/desktop.h"
#include "session/settings.h"
#include "sound/audio_stream.h"
#include "visual/strobe_worker.h"

SessionFlagType SessionFlag{0};

namespace {

std::atomic<int> gWorkersRunning{0};

// Each worker is wrapped so that its end is counted; the worker itself knows nothing
// of it.
void runAudioWorker(const SessionFlagType* flag)
{
    AudioStreamWorker(flag);
    gWorkersRunning.fetch_sub(1, std::memory_order_acq_rel);
}

void runStrobeWorker(const SessionFlagType* flag)
{
    StrobeWorker(flag);
    gWorkersRunning.fetch_sub(1, std::memory_order_acq_rel);
}

bool startWorker(void (*entry)(const SessionFlagType*))
{
    gWorkersRunning.fetch_add(1, std::memory_order_acq_rel);
    if (desktopStartThread(entry, &SessionFlag))
        return true;
    gWorkersRunning.fetch_sub(1, std::memory_order_acq_rel);
    return false;
}

} // namespace

int workersRunning()
{
    return gWorkersRunning.load(std::memory_order_acquire);
}

bool waitForWorkers(std::uint32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (workersRunning() != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool startSession()
{
    if (sessionRunning(&SessionFlag))
        return false;
    if (!waitForWorkers(kWorkerWindDownMs))
        return false;

    // The controls only offer valid values; a value that is not is never let into the
    // settings, since the workers divide by the frequency.
    const std::uint32_t frequency = desktopFrequency();
    const long sound = desktopSoundSelection();
    const long visual = desktopVisualSelection();
    if (isValidFrequency(frequency))
        gStimulationSettings.frequency = frequency;
    if (isValidSoundMode(sound))
        gStimulationSettings.soundMode = static_cast<SoundMode>(sound);
    if (isValidVisualMode(visual))
        gStimulationSettings.visualMode = static_cast<VisualMode>(visual);

    SessionFlag.store(1, std::memory_order_release);
    startWorker(runAudioWorker);
    startWorker(runStrobeWorker);
    desktopShowCursor(false);
    desktopShowStimulationWindow();
    desktopEnableControlWindow(false);
    return true;
}

void stopSession()
{
    if (!sessionRunning(&SessionFlag))
        return; // a repeated key, or a close after the key: the desktop is back already
    SessionFlag.store(0, std::memory_order_release);
    desktopHideStimulationWindow();
    desktopEnableControlWindow(true);
    desktopShowCursor(true);
    desktopFocusControlWindow();
}

bool finishWorkers(std::uint32_t timeoutMs)
{
    SessionFlag.store(0, std::memory_order_release);
    return waitForWorkers(timeoutMs);
}

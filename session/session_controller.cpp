#include "session/session_controller.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "session/desktop.h"
#include "session/strobe_limit_message.h"
#include "session/thread_prologue.h"
#include "sound/audio_stream.h"
#include "visual/strobe_level.h"
#include "visual/strobe_worker.h"

SessionFlagType SessionFlag{0};

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> gWorkersRunning{0};

// A Start that waits for the last session's workers: what it will capture, and until
// when it waits. UI thread only.
bool gStartWaiting = false;
StimulationSettings gWantedSettings;
Clock::time_point gStartGivenUpAt;

// Each worker runs detached on a thread of its own, after the face's prologue, and its
// end is counted; the worker itself knows nothing of it.
bool startWorker(void (*entry)(const SessionFlagType*))
{
    gWorkersRunning.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::thread([entry] {
            threadPrologue();
            entry(&SessionFlag);
            gWorkersRunning.fetch_sub(1, std::memory_order_acq_rel);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        gWorkersRunning.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
}

void beginSession()
{
    gStartWaiting = false;
    gStimulationSettings = gWantedSettings;
    SessionFlag.store(1, std::memory_order_release);
    // No thread to be had leaves that effect out; the session itself still runs and a
    // key still ends it.
    startWorker(AudioStreamWorker);
    startWorker(StrobeWorker);
    desktopShowCursor(false);
    desktopShowStimulationWindow();
    desktopEnableControlWindow(false);
}

} // namespace

int workersRunning()
{
    return gWorkersRunning.load(std::memory_order_acquire);
}

bool waitForWorkers(std::uint32_t timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (workersRunning() != 0) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

StartResult startSession(const StimulationSettings& wanted)
{
    if (sessionRunning(&SessionFlag))
        return StartResult::Refused;
    const StimulationSettings& base = gStartWaiting ? gWantedSettings : gStimulationSettings;
    StimulationSettings next = base;
    if (isValidFrequency(wanted.frequency))
        next.frequency = wanted.frequency;
    if (isValidSoundMode(wanted.soundMode))
        next.soundMode = wanted.soundMode;
    if (isValidVisualMode(wanted.visualMode))
        next.visualMode = wanted.visualMode;
    // A flicker faster than half the screen's refresh rate would be seen as a slower one,
    // which may fall in the band where flashing light most often triggers seizures. The
    // session then runs with the screen black, the sound as chosen, and the user is told
    // why before the screen goes black.
    if (next.visualMode == VisualStrobe) {
        const double refresh = desktopRefreshRate();
        if (!strobeCanShow(next.frequency, refresh)) {
            desktopTellUser(strobeLimitMessage(next.frequency, refresh).c_str());
            next.visualMode = VisualNone;
        }
    }
    gWantedSettings = next;
    if (!gStartWaiting) {
        gStartWaiting = true;
        gStartGivenUpAt = Clock::now() + std::chrono::milliseconds(kWorkerWindDownMs);
    }
    return continueStart();
}

StartResult continueStart()
{
    if (!gStartWaiting)
        return StartResult::Refused;
    // Two sessions never share the blocks, the device or the counters: the new workers
    // start only once the old ones have ended.
    if (workersRunning() == 0) {
        beginSession();
        return StartResult::Started;
    }
    if (Clock::now() >= gStartGivenUpAt) {
        gStartWaiting = false;
        return StartResult::Refused;
    }
    return StartResult::Waiting;
}

bool startWaiting()
{
    return gStartWaiting;
}

void stopSession()
{
    gStartWaiting = false;
    if (!sessionRunning(&SessionFlag))
        return; // a repeated key, or a close after the key: the desktop is back already
    SessionFlag.store(0, std::memory_order_release);
    wakeAudioStreamWorker();
    wakeStrobeWorker();
    desktopHideStimulationWindow();
    desktopEnableControlWindow(true);
    desktopShowCursor(true);
    desktopFocusControlWindow();
}

bool finishWorkers(std::uint32_t timeoutMs)
{
    gStartWaiting = false;
    SessionFlag.store(0, std::memory_order_release);
    wakeAudioStreamWorker();
    wakeStrobeWorker();
    return waitForWorkers(timeoutMs);
}

#pragma once
// Starting and stopping a session: the settings the face hands over, the flag, the two
// workers, and the desktop handed to the stimulation window and back.
#include <cstdint>

#include "settings/settings.h"

// How long a Start waits for the last session's workers to wind down before it is given
// up, and how long the program's exit waits for them. They end by themselves within a
// few milliseconds of Stop; the bound only matters if a device misbehaves.
constexpr std::uint32_t kWorkerWindDownMs = 5000;

enum class StartResult {
    Started, // the session runs
    Waiting, // the last session's workers are still winding down: call continueStart
    Refused, // a session runs already, or the old workers never ended: nothing changed
};

// Called on the UI thread when Start is clicked, with the controls' values. A value out
// of its range never reaches the settings (the workers divide by the frequency): the
// setting keeps its last value. A stroboscope faster than the screen can show runs as
// visual none, once the user has closed the message that says so; apart from that
// message it never waits. Once the last session's workers have
// ended it raises the flag, starts the audio and then the strobe worker, hides the
// cursor, shows the stimulation window with the focus and disables the control window.
// Until then it answers Waiting, and the face calls continueStart from a short timer,
// so its window stays live while the old session's device closes.
StartResult startSession(const StimulationSettings& wanted);

// Starts the waiting session if the old workers have ended by now; gives it up
// (Refused, everything Idle) once they have not within kWorkerWindDownMs of the click.
// Answers Refused when no start is waiting.
StartResult continueStart();

// True between a Start that answered Waiting and the start or its giving up.
bool startWaiting();

// Called on any key press while a session runs or waits to start, and when the window
// system asks to close the stimulation window: lowers the flag and wakes both workers,
// hides the stimulation window, enables the control window, shows the cursor and
// focuses the control window. A waiting start is dropped. Does nothing when idle.
void stopSession();

// Number of workers started and not yet ended.
int workersRunning();

// Waits up to `timeoutMs` until every worker has ended; true if they have. For the
// program's exit and for tests, never for a window's handler.
bool waitForWorkers(std::uint32_t timeoutMs);

// For the program's exit: stops a running session's workers (without touching the
// windows) and waits, bounded, until they have ended.
bool finishWorkers(std::uint32_t timeoutMs);

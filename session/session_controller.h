#pragma once
// Starting and stopping a session: the settings captured from the controls, the flag,
// the two workers, and the desktop handed to the stimulation window and back.
#include <cstdint>

// How long a new Start, or the program's exit, waits for the last session's workers to
// wind down. They end by themselves within one block time (the audio worker) or one
// poll (the strobe worker); the bound only matters if a device misbehaves.
constexpr std::uint32_t kWorkerWindDownMs = 5000;

// Called when Start is clicked. Waits for the previous session's workers to end, so two
// sessions never share the blocks, the device or the counters, then captures the
// settings, raises the flag, starts the audio and then the strobe worker, hides the
// cursor, shows the stimulation window with the focus and disables the control window.
// Returns false, leaving everything Idle, if the old workers never end.
bool startSession();

// Called on any key press in the stimulation window, and when the window system asks to
// close it: lowers the flag, hides the stimulation window, enables the control window,
// shows the cursor and focuses the control window. Does nothing when no session runs.
void stopSession();

// Number of workers started and not yet ended.
int workersRunning();

// Waits up to `timeoutMs` until every worker has ended; true if they have.
bool waitForWorkers(std::uint32_t timeoutMs);

// For the program's exit: stops a running session's workers (without touching the
// windows) and waits, bounded, until they have ended.
bool finishWorkers(std::uint32_t timeoutMs);

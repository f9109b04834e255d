#pragma once
// The audio worker's sound output: the system's default sound device, fed the two sample
// blocks alternately, every device call made on a device thread of its own.
//
// Sound systems can stop answering: through PulseAudio's ALSA plugin, and through Wine's
// winmm, opening, stopping and closing a stream wait for the sound server, and a frozen
// server holds them for half a minute or for good. So the audio worker never calls the
// device: it hands blocks over (copied, so an abandoned device never reads storage the
// next session writes) and waits, bounded, for the device thread's news. A device that
// keeps silent past the bound is abandoned to its thread, which closes it whenever the
// system lets go, and the session goes on silent.
//
// At the end of a session the worker waits only briefly for the device to stop and
// close, so the next session never waits for a slow or frozen server: a device still
// closing is left to its thread, and the next session's device thread waits, bounded,
// for it to be let go before it opens the device again (a device without a server may
// take one stream at a time).
//
// The worker's side is sound/device_thread_output.cpp, the device thread's loop
// sound/device_thread.cpp; each platform supplies only its device verbs
// (sound/wave_device.h).
//
// Called by the audio stream worker, on its own thread, in this order: open, wait,
// queue, (queue, wait)..., reset, close; only waveOutputWake comes from another thread.
#include <cstdint>

struct SampleBlock;

// Opens the default output, ready to take block 0 and block 1 (whose storage lives as
// long as the process). Returns false when there is no device to be had; nothing else
// is called then.
bool waveOutputOpen(SampleBlock* blocks);

// Hands block `index` (0 or 1) over, to be played behind whatever is already queued.
void waveOutputQueue(int index);

enum class WaveWait {
    Notified, // the device is open, or has finished playing a queued block
    Woken,    // waveOutputWake was called: nothing was played, the caller looks at its flag
    Failed,   // no notification within the bound, or the device failed
};

// Waits for the device's next notification: one comes once the device is open, and one
// each time it has finished playing a queued block. On Failed the worker gives up on
// the device.
WaveWait waveOutputWait(std::uint32_t timeoutMs);

// Makes the worker's wait that is running, or its next one, return Woken at once. Called
// from any thread once the session flag has dropped, so the device is reset now rather
// than after the block that is playing. A wake left over from an earlier session is
// forgotten when the device opens; a wake while it opens ends the opening (open then
// answers false).
void waveOutputWake();

// Stops output at once (waiting at most 100 ms for the device to say so); every queued
// block counts as done.
void waveOutputReset();

// Closes the device (waiting for it no longer than the reset's bound).
void waveOutputClose();

// For the program's exit: waits up to `timeoutMs` until no device thread is inside the
// sound system any more (every slot closed and let go); true if none is. A thread still
// held by a frozen server must not be torn down under Wine, whose ending of a thread in
// the middle of a call into the sound server faults and takes the whole process with it.
bool waitForDeviceThreads(std::uint32_t timeoutMs);

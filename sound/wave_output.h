#pragma once
// Wave output seam: the system's default sound device, fed the two sample blocks
// alternately. Implemented by sound/device_thread_output.cpp over each face's device
// thread (ui/windows/wave_output_win32.cpp over winmm, ui/linux/wave_output_linux.cpp
// over ALSA), and by a recording fake in the tests.
// Called by the audio stream worker, on its own thread, in this order: open, wait,
// queue, (queue, wait)..., reset, close; only waveOutputWake comes from another thread.
#include <cstdint>

struct SampleBlock;

// Opens the default output for 44100 Hz, 2 channels, 16-bit signed PCM, ready to take
// block 0 and block 1 (whose storage lives as long as the process). Returns false when
// there is no device to be had; nothing else is called then.
bool waveOutputOpen(SampleBlock* blocks);

// Queues block `index` (0 or 1) behind whatever is already queued.
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
// forgotten when the device opens; a wake while it opens may end the opening (open then
// answers false).
void waveOutputWake();

// Stops output at once; every queued block counts as done.
void waveOutputReset();

// Releases the blocks from the device and closes it.
void waveOutputClose();

#pragma once
// Wave output seam: the system's default sound device, fed the two sample blocks
// alternately. Implemented once per platform (winmm on Windows, ALSA on Linux) and
// by a recording fake in the tests. Called only by the audio stream worker, on its
// own thread, in this order: open, wait, queue, (queue, wait)..., reset, close.
#include <cstdint>

struct SampleBlock;

// Opens the default output for 44100 Hz, 2 channels, 16-bit signed PCM, ready to take
// block 0 and block 1 (whose storage lives as long as the process). Returns false when
// there is no device to be had; nothing else is called then.
bool waveOutputOpen(SampleBlock* blocks);

// Queues block `index` (0 or 1) behind whatever is already queued.
void waveOutputQueue(int index);

// Waits for the device's next notification: one comes once the device is open, and one
// each time it has finished playing a queued block. Returns false when none came within
// `timeoutMs` or the device failed: the worker then gives up on the device.
bool waveOutputWait(std::uint32_t timeoutMs);

// Stops output at once; every queued block counts as done.
void waveOutputReset();

// Releases the blocks from the device and closes it.
void waveOutputClose();

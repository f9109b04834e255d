#pragma once
// The audio stream worker: one per session, on its own thread. Opens the default
// output, keeps the two sample blocks alternately queued, refilling each only after the
// device has played it, and closes the device once the session flag drops.
#include <cstdint>

#include "settings/session_flag.h"
#include "sound/block_synth.h"

// How long the worker waits for any one device notification before it decides the
// device has stopped taking data. Several block times: a healthy device always answers
// within one.
constexpr std::uint32_t kDeviceWaitMs = 2000;

// Frame index of the first frame of the next block; 0 when a session's stream starts.
extern std::uint32_t sampleCounter;

// The two blocks, alive for the whole process; each is copied when it is handed to the
// device thread, so a device left behind never reads them.
extern SampleBlock gSampleBlocks[2];

// Computes block `index` from the settings, queues it on the device and moves the
// frame index on by one block.
void fillBlock(int index);

// Thread entry. Reads the flag after each wait. If the device cannot be opened or stops
// answering, the worker ends early and the session goes on silent.
void AudioStreamWorker(const SessionFlagType* flag);

// Called once the flag has dropped, from any thread: the worker's wait ends now instead
// of when the playing block is done, so the sound stops with the picture.
void wakeAudioStreamWorker();

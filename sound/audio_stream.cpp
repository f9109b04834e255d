#include "sound/audio_stream.h"

#include "sound/device_thread_output.h"

std::uint32_t sampleCounter = 0;
SampleBlock gSampleBlocks[2];

void fillBlock(int index)
{
    synthesizeBlock(gSampleBlocks[index], gStimulationSettings.frequency,
                    gStimulationSettings.soundMode, sampleCounter, gNoiseGenerator);
    waveOutputQueue(index);
    sampleCounter += kBlockFrames;
}

namespace {

// The device's next notification. A wake while the session still runs (one left over
// from a Stop that came before the flag was read) is no notification: wait again.
WaveWait awaitDevice(const SessionFlagType* flag)
{
    for (;;) {
        const WaveWait result = waveOutputWait(kDeviceWaitMs);
        if (result != WaveWait::Woken || !sessionRunning(flag))
            return result;
    }
}

} // namespace

void AudioStreamWorker(const SessionFlagType* flag)
{
    sampleCounter = 0;
    if (!waveOutputOpen(gSampleBlocks))
        return; // no device: the session goes on without sound

    // The first notification says the device is open.
    if (awaitDevice(flag) == WaveWait::Notified) {
        fillBlock(0);
        int k = 1;
        while (sessionRunning(flag)) {
            fillBlock(k); // queued behind the other block, which is playing
            // Played, or woken by Stop (the loop then sees the flag down), or the device
            // stopped taking data.
            if (awaitDevice(flag) != WaveWait::Notified)
                break;
            k = 1 - k;
        }
    }
    waveOutputReset(); // cuts off whatever is still queued
    waveOutputClose();
}

void wakeAudioStreamWorker()
{
    waveOutputWake();
}

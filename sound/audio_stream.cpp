#include "sound/audio_stream.h"

#include "sound/wave_output.h"

std::uint32_t sampleCounter = 0;
SampleBlock gSampleBlocks[2];

void fillBlock(int index)
{
    synthesizeBlock(gSampleBlocks[index], gStimulationSettings.frequency,
                    gStimulationSettings.soundMode, sampleCounter, gNoiseGenerator);
    waveOutputQueue(index);
    sampleCounter += kBlockFrames;
}

void AudioStreamWorker(const SessionFlagType* flag)
{
    sampleCounter = 0;
    if (!waveOutputOpen(gSampleBlocks))
        return; // no device: the session goes on without sound

    // The first notification says the device is open.
    if (waveOutputWait(kDeviceWaitMs)) {
        fillBlock(0);
        int k = 1;
        while (sessionRunning(flag)) {
            fillBlock(k); // queued behind the other block, which is playing
            if (!waveOutputWait(kDeviceWaitMs))
                break; // the device stopped taking data
            k = 1 - k;
        }
    }
    waveOutputReset(); // cuts off whatever is still queued
    waveOutputClose();
}

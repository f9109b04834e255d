#include "sound/block_synth.h"

#include "sound/block_synth_frame.h"
#include "sound/block_synth_vector.h"
#include "sound/block_synth_width.h"

using namespace synth;

namespace {

void silence(std::int16_t* out, std::uint32_t frames)
{
    for (std::uint32_t i = 0; i < frames * 2; ++i)
        out[i] = 0;
}

void binaural(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first)
{
    const BinauralPeriods periods = binauralPeriods(f);
    const double stepLeft = binauralStep(periods.left);
    const double stepRight = binauralStep(periods.right);
    for (std::uint32_t i = 0; i < frames; ++i)
        binauralFrame(out + 2 * i, frameIndex(first, i), stepLeft, stepRight);
}

void beeps(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first)
{
    const double step = beepGateStep(f);
    for (std::uint32_t i = 0; i < frames; ++i)
        beepFrame(out + 2 * i, frameIndex(first, i), step);
}

void noise(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first,
           NoiseGenerator& generator)
{
    const double halfStep = noiseHalfStep(f);
    for (std::uint32_t i = 0; i < frames; ++i)
        noiseFrame(out + 2 * i, frameIndex(first, i), halfStep, carrierStep(generator.next()));
}

} // namespace

BinauralPeriods binauralPeriods(std::uint32_t f)
{
    // Below 0.20 Hz the tones sit higher above 80 Hz, so the two ears still differ.
    const std::uint32_t m = f < 20 ? 50 : 20;
    return {4410000u / (f * m + 8000u), 4410000u / (f * (m + 1) + 8000u)};
}

void drawCarrierSteps(double* steps, std::uint32_t count, NoiseGenerator& generator)
{
    for (std::uint32_t i = 0; i < count; ++i)
        steps[i] = carrierStep(generator.next());
}

void synthesizeFramesScalar(std::int16_t* out, std::uint32_t frameCount, std::uint32_t frequency,
                            SoundMode mode, std::uint32_t firstFrame, NoiseGenerator& generator)
{
    switch (mode) {
    case SoundBinaural: binaural(out, frameCount, frequency, firstFrame); break;
    case SoundBeeps: beeps(out, frameCount, frequency, firstFrame); break;
    case SoundNoise: noise(out, frameCount, frequency, firstFrame, generator); break;
    case SoundNone:
    default: silence(out, frameCount); break;
    }
}

void synthesizeFrames(std::int16_t* out, std::uint32_t frameCount, std::uint32_t frequency,
                      SoundMode mode, std::uint32_t firstFrame, NoiseGenerator& generator)
{
    static const SynthWidth widest = widestSynthWidth();
    synthesizeFramesWith(widest, kSynthMargin, out, frameCount, frequency, mode, firstFrame, generator);
}

// x86-64 with SLEEF: the widest of AVX-512, AVX2 and the scalar path this processor runs.
// Compiled for plain x86-64, so it runs everywhere and only calls a vector path after
// asking the processor.
#include "sound/block_synth.h"
#include "sound/block_synth_frame.h"
#include "sound/block_synth_vector.h"
#include "sound/block_synth_width.h"

SynthWidth widestSynthWidth()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return SynthWidth::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return SynthWidth::Avx2;
    return SynthWidth::Scalar;
}

std::uint32_t synthesizeFramesWith(SynthWidth width, double margin, std::int16_t* out,
                                   std::uint32_t frameCount, std::uint32_t frequency, SoundMode mode,
                                   std::uint32_t firstFrame, NoiseGenerator& noise)
{
    static const SynthWidth widest = widestSynthWidth();
    if (static_cast<std::uint32_t>(width) > static_cast<std::uint32_t>(widest))
        width = widest;
    VectorJob job{margin, out, frameCount, firstFrame, mode, 0.0, 0.0, &noise};
    switch (mode) {
    case SoundBinaural: {
        const BinauralPeriods periods = binauralPeriods(frequency);
        job.step = synth::binauralStep(periods.left);
        job.rightStep = synth::binauralStep(periods.right);
        break;
    }
    case SoundBeeps: job.step = synth::beepGateStep(frequency); break;
    case SoundNoise: job.step = synth::noiseHalfStep(frequency); break;
    case SoundNone:
    default: width = SynthWidth::Scalar; break; // silence: nothing to compute
    }
    switch (width) {
    case SynthWidth::Avx512: return synthesizeFramesAvx512(job);
    case SynthWidth::Avx2: return synthesizeFramesAvx2(job);
    case SynthWidth::Scalar:
    default: synthesizeFramesScalar(out, frameCount, frequency, mode, firstFrame, noise); return 0;
    }
}

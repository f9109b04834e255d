// The builds without a vector sine (32-bit Windows, processors other than x86-64):
// every frame with the C library's sine.
#include "sound/block_synth.h"
#include "sound/block_synth_width.h"

SynthWidth widestSynthWidth() { return SynthWidth::Scalar; }

std::uint32_t synthesizeFramesWith(SynthWidth, double, std::int16_t* out, std::uint32_t frameCount,
                                   std::uint32_t frequency, SoundMode mode, std::uint32_t firstFrame,
                                   NoiseGenerator& noise)
{
    synthesizeFramesScalar(out, frameCount, frequency, mode, firstFrame, noise);
    return 0;
}

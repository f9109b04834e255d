#pragma once
// The sound of a session, computed block by block from the running frame index.
// Every effect is a pure function of the frame index (the noise also of the
// generator), so the sound runs on across block boundaries without a jump.
#include <cstdint>

#include "settings/settings.h"
#include "sound/noise_generator.h"

constexpr std::uint32_t kBlockFrames = 12288;              // 0x3000 stereo frames
constexpr std::uint32_t kBlockBytes = kBlockFrames * 4;    // 49152
constexpr std::uint32_t kSampleRate = 44100;

// 16-bit signed PCM, left sample first; the layout the device takes as it is.
struct SampleBlock {
    std::int16_t samples[kBlockFrames * 2];
};
static_assert(sizeof(SampleBlock) == kBlockBytes, "a block is exactly 49152 bytes");

// Computes `frameCount` stereo frames into `out` (2 * frameCount samples), the first
// with frame index `firstFrame`; indices wrap at 2^32. Draws from `noise` once per
// frame in the noise mode and never otherwise. `frequency` must not be 0.
// Uses the widest vector unit the processor has (sound/block_synth_width.h); the
// samples are the same as synthesizeFramesScalar's on every processor.
void synthesizeFrames(std::int16_t* out, std::uint32_t frameCount, std::uint32_t frequency,
                      SoundMode mode, std::uint32_t firstFrame, NoiseGenerator& noise);

// The same frames one at a time with the C library's sine: the reference, and the
// only path where there is no vector unit to use (32-bit Windows, older processors).
void synthesizeFramesScalar(std::int16_t* out, std::uint32_t frameCount, std::uint32_t frequency,
                            SoundMode mode, std::uint32_t firstFrame, NoiseGenerator& noise);

// The whole-sample periods each effect derives from the frequency (hundredths of a
// hertz): 4410000 div something, so the frequency never enters floating point itself.
struct BinauralPeriods {
    std::uint32_t left, right;
};
BinauralPeriods binauralPeriods(std::uint32_t frequency);
constexpr std::uint32_t stimulationPeriod(std::uint32_t frequency) { return 4410000u / frequency; }

inline void synthesizeBlock(SampleBlock& block, std::uint32_t frequency, SoundMode mode,
                            std::uint32_t firstFrame, NoiseGenerator& noise)
{
    synthesizeFrames(block.samples, kBlockFrames, frequency, mode, firstFrame, noise);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/parallel_synth.h"
#include "sound/block_synth.h"

namespace {

// The reference: one thread, one block after another, one generator from its start.
std::vector<std::int16_t> straight(std::uint32_t frequency, SoundMode mode, std::uint32_t frames)
{
    std::vector<std::int16_t> out(2 * std::size_t{frames});
    NoiseGenerator noise;
    for (std::uint32_t first = 0; first < frames; first += kBlockFrames)
        synthesizeFrames(out.data() + 2 * std::size_t{first}, std::min(kBlockFrames, frames - first), frequency,
                         mode, first, noise);
    return out;
}

TEST(ParallelSynth, SameFramesAsOneThreadWhateverTheSplit)
{
    const struct {
        std::uint32_t frequency;
        SoundMode mode;
        std::uint32_t frames;
    } sessions[] = {
        {780, SoundNoise, 5 * kBlockFrames + 1234}, // partial last block
        {10, SoundNoise, 3 * kBlockFrames},
        {5000, SoundNoise, 7},
        {780, SoundBinaural, 4 * kBlockFrames + 1},
        {19, SoundBeeps, 3 * kBlockFrames - 1},
        {780, SoundNone, 2 * kBlockFrames + 5},
    };
    for (const auto& s : sessions) {
        const auto expected = straight(s.frequency, s.mode, s.frames);
        for (unsigned threads : {1u, 2u, 3u, 4u, 16u}) {
            std::vector<std::int16_t> got(expected.size(), 0x5555);
            synthesizeSessionFrames(got.data(), 0, s.frames, s.frequency, s.mode, threads);
            EXPECT_TRUE(got == expected) << "mode " << s.mode << " f " << s.frequency << " frames " << s.frames
                                         << " threads " << threads;
        }
    }
}

TEST(ParallelSynth, ChunksLaterInTheSessionContinueIt)
{
    // A render computes chunk after chunk; each must match the same stretch of the
    // whole session, noise included.
    const std::uint32_t total = 6 * kBlockFrames + 100;
    for (SoundMode mode : {SoundNoise, SoundBinaural, SoundBeeps}) {
        const auto expected = straight(780, mode, total);
        const struct {
            std::uint32_t first, frames;
        } chunks[] = {{kBlockFrames, 2 * kBlockFrames}, {3 * kBlockFrames, 3 * kBlockFrames + 100},
                      {6 * kBlockFrames, 100}};
        for (const auto& c : chunks) {
            std::vector<std::int16_t> got(2 * std::size_t{c.frames});
            synthesizeSessionFrames(got.data(), c.first, c.frames, 780, mode, 2);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + 2 * static_cast<std::ptrdiff_t>(c.first)))
                << "mode " << mode << " chunk at " << c.first;
        }
    }
}

TEST(ParallelSynth, ThreadCountIsSane)
{
    const unsigned n = renderThreadCount();
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 16u);
}

} // namespace

#include <gtest/gtest.h>

#include <vector>

#include "sound/block_synth.h"

namespace {

using Samples = std::vector<std::int16_t>;

// Frames [first, first + count) at `frequency`, left and right, drawing from `noise` (a
// fresh generator if none).
Samples render(std::uint32_t frequency, SoundMode mode, std::uint32_t first, std::uint32_t count,
               NoiseGenerator* noise = nullptr)
{
    NoiseGenerator fresh;
    Samples samples(2 * count);
    synthesizeFrames(samples.data(), count, frequency, mode, first, noise ? *noise : fresh);
    return samples;
}

TEST(BlockSynth, KnownVectorsAt780)
{
    const struct {
        const char* name;
        SoundMode mode;
        std::uint32_t first; // frame index of the first expected frame
        Samples frames;
    } cases[] = {
        {"binaural", SoundBinaural, 0, {0, 0, 1106, 1143, 2212, 2285, 3314, 3425, 4414, 4560, 5508, 5689}},
        {"binaural, second block", SoundBinaural, 12288, {12921, 32587}},
        {"beeps", SoundBeeps, 0, {0, 0, 1, 1, 6, 6, 15, 15, 27, 27, 42, 42}},
        {"beeps, one tone period", SoundBeeps, 132, {0, 0, 229, 229}},
        {"beeps, gate open again", SoundBeeps, 5654, {-31, -31}},
        {"noise, fresh generator", SoundNoise, 0, {0, 0, 3, 3, 4, 4, 38, 38, 49, 49, 64, 64}},
    };
    for (const auto& c : cases) {
        // Rendered from frame 0, so the noise draws line up with the frame index.
        const Samples all = render(780, c.mode, 0, c.first + static_cast<std::uint32_t>(c.frames.size() / 2));
        EXPECT_EQ(Samples(all.begin() + 2 * c.first, all.end()), c.frames) << c.name;
    }
}

TEST(BlockSynth, Periods)
{
    const struct {
        std::uint32_t frequency, left, right, stimulation;
    } cases[] = {{10, 518, 518, 441000}, {19, 492, 491, 232105}, {20, 525, 523, 220500},
                 {780, 186, 180, 5653},  {5000, 40, 39, 882}};
    for (const auto& c : cases) {
        EXPECT_EQ(binauralPeriods(c.frequency).left, c.left) << c.frequency;
        EXPECT_EQ(binauralPeriods(c.frequency).right, c.right) << c.frequency;
        EXPECT_EQ(stimulationPeriod(c.frequency), c.stimulation) << c.frequency;
    }
}

TEST(BlockSynth, BeepGateClosedForTheNegativeHalfCycle)
{
    const Samples s = render(780, SoundBeeps, 0, 5700);
    int openNonZero = 0;
    for (std::uint32_t n = 1; n <= 2826; ++n)
        openNonZero += s[2 * n] != 0;
    EXPECT_GT(openNonZero, 2700);
    for (std::uint32_t n = 2827; n <= 5653; ++n)
        ASSERT_EQ(s[2 * n], 0) << n;
    for (std::uint32_t n = 0; n < 5700; ++n)
        ASSERT_EQ(s[2 * n], s[2 * n + 1]) << n;
}

TEST(BlockSynth, SilenceIsAllZeroAndDrawsNoNoise)
{
    NoiseGenerator g;
    EXPECT_EQ(render(780, SoundNone, 12345, kBlockFrames, &g), Samples(2 * kBlockFrames, 0));
    EXPECT_EQ(g.state, 1u);
}

// Two blocks computed one after the other equal one long stretch: no jump at the
// boundary, and the noise mode draws exactly once per frame. Frame 0 is silent.
TEST(BlockSynth, BlocksContinueWithoutAJump)
{
    for (SoundMode mode : {SoundBinaural, SoundBeeps, SoundNoise})
        for (std::uint32_t f : {10u, 19u, 20u, 780u, 4999u, 5000u}) {
            NoiseGenerator whole, parts;
            const Samples expected = render(f, mode, 0, 2 * kBlockFrames, &whole);
            SampleBlock blocks[2];
            synthesizeBlock(blocks[0], f, mode, 0, parts);
            synthesizeBlock(blocks[1], f, mode, kBlockFrames, parts);
            Samples got(std::begin(blocks[0].samples), std::end(blocks[0].samples));
            got.insert(got.end(), std::begin(blocks[1].samples), std::end(blocks[1].samples));
            ASSERT_EQ(got, expected) << mode << " f=" << f;
            EXPECT_EQ(parts.state, whole.state) << mode << " f=" << f;
            EXPECT_EQ(Samples(expected.begin(), expected.begin() + 2), Samples(2, 0)) << mode << " f=" << f;
        }
}

// The frame index is unsigned 32-bit: past 2^32 - 1 it starts again at 0, as a session
// of 27 hours would.
TEST(BlockSynth, FrameIndexWrapsAt2To32)
{
    for (SoundMode mode : {SoundBinaural, SoundBeeps, SoundNoise}) {
        NoiseGenerator a, b;
        const Samples acrossWrap = render(780, mode, 0xFFFFFFFAu, 12, &a);
        b.skip(6);
        EXPECT_EQ(Samples(acrossWrap.begin() + 12, acrossWrap.end()), render(780, mode, 0, 6, &b)) << mode;
    }
    // The last index before the wrap is the large positive 4294967295, not -1, which
    // would give the mirror of frame 1: (-1106, -1143).
    const Samples last = render(780, SoundBinaural, 0xFFFFFFFFu, 1);
    EXPECT_NE(last[0], -1106);
    EXPECT_NE(last[1], -1143);
}

} // namespace

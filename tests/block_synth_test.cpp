#include <gtest/gtest.h>

#include <vector>

#include "sound/block_synth.h"

namespace {

struct Frame {
    int left, right;
};

std::vector<Frame> render(std::uint32_t frequency, SoundMode mode, std::uint32_t first,
                          std::uint32_t count, NoiseGenerator& noise)
{
    std::vector<std::int16_t> samples(2 * count);
    synthesizeFrames(samples.data(), count, frequency, mode, first, noise);
    std::vector<Frame> frames(count);
    for (std::uint32_t i = 0; i < count; ++i)
        frames[i] = {samples[2 * i], samples[2 * i + 1]};
    return frames;
}

std::vector<Frame> render(std::uint32_t frequency, SoundMode mode, std::uint32_t first,
                          std::uint32_t count)
{
    NoiseGenerator fresh;
    return render(frequency, mode, first, count, fresh);
}

struct VectorCase {
    const char* name;
    SoundMode mode;
    std::uint32_t frequency;
    std::uint32_t first; // frame index of the first expected frame
    std::vector<Frame> frames;
};

TEST(BlockSynth, KnownVectors)
{
    const VectorCase cases[] = {
        {"binaural 7.80", SoundBinaural, 780, 0,
         {{0, 0}, {1106, 1143}, {2212, 2285}, {3314, 3425}, {4414, 4560}, {5508, 5689}}},
        {"binaural 7.80, second block", SoundBinaural, 780, 12288, {{12921, 32587}}},
        {"beeps 7.80", SoundBeeps, 780, 0, {{0, 0}, {1, 1}, {6, 6}, {15, 15}, {27, 27}, {42, 42}}},
        {"beeps 7.80, one tone period", SoundBeeps, 780, 132, {{0, 0}, {229, 229}}},
        {"beeps 7.80, gate open again", SoundBeeps, 780, 5654, {{-31, -31}}},
        {"noise 7.80, fresh generator", SoundNoise, 780, 0,
         {{0, 0}, {3, 3}, {4, 4}, {38, 38}, {49, 49}, {64, 64}}},
    };
    for (const VectorCase& c : cases) {
        // Render from frame 0 so the noise draws line up with the frame index.
        const auto all = render(c.frequency, c.mode, 0, c.first + static_cast<std::uint32_t>(c.frames.size()));
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            EXPECT_EQ(all[c.first + i].left, c.frames[i].left) << c.name << " frame " << c.first + i;
            EXPECT_EQ(all[c.first + i].right, c.frames[i].right) << c.name << " frame " << c.first + i;
        }
    }
}

TEST(BlockSynth, Periods)
{
    const struct {
        std::uint32_t frequency, left, right;
    } cases[] = {{10, 518, 518}, {19, 492, 491}, {20, 525, 523}, {780, 186, 180}, {5000, 40, 39}};
    for (const auto& c : cases) {
        const BinauralPeriods p = binauralPeriods(c.frequency);
        EXPECT_EQ(p.left, c.left) << c.frequency;
        EXPECT_EQ(p.right, c.right) << c.frequency;
    }
    EXPECT_EQ(stimulationPeriod(780), 5653u);
    EXPECT_EQ(stimulationPeriod(10), 441000u);
    EXPECT_EQ(stimulationPeriod(5000), 882u);
}

TEST(BlockSynth, BeepGateClosedForTheNegativeHalfCycle)
{
    const auto frames = render(780, SoundBeeps, 0, 5700);
    int openNonZero = 0;
    for (std::uint32_t n = 1; n <= 2826; ++n)
        openNonZero += frames[n].left != 0;
    EXPECT_GT(openNonZero, 2700);
    for (std::uint32_t n = 2827; n <= 5653; ++n)
        ASSERT_EQ(frames[n].left, 0) << n;
    for (const Frame& f : frames)
        ASSERT_EQ(f.left, f.right);
}

TEST(BlockSynth, FrameZeroIsSilentInEveryMode)
{
    for (SoundMode mode : {SoundNone, SoundBinaural, SoundBeeps, SoundNoise})
        for (std::uint32_t f : {10u, 780u, 5000u}) {
            const Frame first = render(f, mode, 0, 1)[0];
            EXPECT_EQ(first.left, 0) << mode << " " << f;
            EXPECT_EQ(first.right, 0) << mode << " " << f;
        }
}

TEST(BlockSynth, SilenceIsAllZeroAndDrawsNoNoise)
{
    NoiseGenerator g;
    const auto frames = render(780, SoundNone, 12345, kBlockFrames, g);
    for (const Frame& f : frames)
        ASSERT_TRUE(f.left == 0 && f.right == 0);
    EXPECT_EQ(g.state, 1u);
}

// Two blocks computed one after the other equal one long stretch: no jump at the
// boundary, and the noise mode draws exactly once per frame.
TEST(BlockSynth, BlocksContinueWithoutAJump)
{
    for (SoundMode mode : {SoundBinaural, SoundBeeps, SoundNoise})
        for (std::uint32_t f : {10u, 19u, 20u, 780u, 4999u, 5000u}) {
            NoiseGenerator whole, parts;
            const auto expected = render(f, mode, 0, 2 * kBlockFrames, whole);
            SampleBlock blocks[2];
            synthesizeBlock(blocks[0], f, mode, 0, parts);
            synthesizeBlock(blocks[1], f, mode, kBlockFrames, parts);
            for (std::uint32_t i = 0; i < 2 * kBlockFrames; ++i) {
                const SampleBlock& b = blocks[i / kBlockFrames];
                const std::uint32_t j = i % kBlockFrames;
                ASSERT_EQ(b.samples[2 * j], expected[i].left) << mode << " f=" << f << " frame " << i;
                ASSERT_EQ(b.samples[2 * j + 1], expected[i].right) << mode << " f=" << f << " frame " << i;
            }
            EXPECT_EQ(parts.state, whole.state);
        }
}

// The frame index is unsigned 32-bit: past 2^32 - 1 it starts again at 0, as a session
// of 27 hours would.
TEST(BlockSynth, FrameIndexWrapsAt2To32)
{
    for (SoundMode mode : {SoundBinaural, SoundBeeps, SoundNoise}) {
        NoiseGenerator a, b;
        const auto acrossWrap = render(780, mode, 0xFFFFFFFAu, 12, a);
        b.skip(6);
        const auto fromZero = render(780, mode, 0, 6, b);
        for (std::uint32_t i = 0; i < 6; ++i) {
            EXPECT_EQ(acrossWrap[6 + i].left, fromZero[i].left) << mode << " " << i;
            EXPECT_EQ(acrossWrap[6 + i].right, fromZero[i].right) << mode << " " << i;
        }
    }
    // The last index before the wrap is the large positive 4294967295, not -1, which
    // would give the mirror of frame 1: (-1106, -1143).
    const Frame last = render(780, SoundBinaural, 0xFFFFFFFFu, 1)[0];
    EXPECT_NE(last.left, -1106);
    EXPECT_NE(last.right, -1143);
}

} // namespace

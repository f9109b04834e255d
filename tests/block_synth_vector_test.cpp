// The vector paths against the scalar one, frame for frame, on the widest unit this
// processor has and with the choice forced down to AVX2 and to the scalar path.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sound/block_synth.h"
#include "sound/block_synth_width.h"

namespace {

// The sanitizer builds run these comparisons several times slower. They are there for
// memory and thread faults, which a fifth of the frequencies and blocks reach as well;
// the exactness over every frequency and all 2000 blocks is the plain build's to show.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kShare = 5;
#else
constexpr std::uint32_t kShare = 1;
#endif

const char* widthName(SynthWidth w)
{
    switch (w) {
    case SynthWidth::Avx512: return "AVX-512";
    case SynthWidth::Avx2: return "AVX2";
    case SynthWidth::Scalar: break;
    }
    return "scalar";
}

// The widest width here, then each narrower one the dispatcher can be forced to.
std::vector<SynthWidth> widthsHere()
{
    std::vector<SynthWidth> widths;
    const auto widest = static_cast<std::uint32_t>(widestSynthWidth());
    for (SynthWidth w : {SynthWidth::Avx512, SynthWidth::Avx2, SynthWidth::Scalar})
        if (static_cast<std::uint32_t>(w) <= widest)
            widths.push_back(w);
    return widths;
}

constexpr SoundMode kSoundingModes[] = {SoundBinaural, SoundBeeps, SoundNoise};

// One stretch rendered by the scalar path, kept to compare several widths against.
struct Reference {
    std::uint32_t frequency;
    SoundMode mode;
    std::uint32_t first;
    std::uint32_t noiseState; // the generator's state before the stretch
    std::vector<std::int16_t> samples;
    std::uint32_t noiseStateAfter;
};

Reference scalarReference(std::uint32_t frequency, SoundMode mode, std::uint32_t first, std::uint32_t count,
                          std::uint32_t noiseState)
{
    Reference r{frequency, mode, first, noiseState, std::vector<std::int16_t>(2 * std::size_t{count}), 0};
    NoiseGenerator g{noiseState};
    synthesizeFramesScalar(r.samples.data(), count, frequency, mode, first, g);
    r.noiseStateAfter = g.state;
    return r;
}

// Empty when `width` with `margin` gives the reference's samples and leaves the
// generator where the scalar path left it; otherwise where and how it differs.
std::string differenceFrom(const Reference& r, SynthWidth width, double margin = kSynthMargin)
{
    const auto count = static_cast<std::uint32_t>(r.samples.size() / 2);
    std::vector<std::int16_t> got(r.samples.size());
    NoiseGenerator g{r.noiseState};
    synthesizeFramesWith(width, margin, got.data(), count, r.frequency, r.mode, r.first, g);
    std::ostringstream why;
    for (std::uint32_t i = 0; i < 2 * count; ++i)
        if (got[i] != r.samples[i]) {
            why << widthName(width) << " mode " << r.mode << " f=" << r.frequency << " frame "
                << static_cast<std::uint32_t>(r.first + i / 2) << (i % 2 ? " right" : " left") << ": " << got[i]
                << ", scalar " << r.samples[i] << " (stretch from " << r.first << ", noise state " << r.noiseState
                << ")";
            return why.str();
        }
    if (g.state != r.noiseStateAfter)
        why << widthName(width) << " mode " << r.mode << " f=" << r.frequency << ": generator at " << g.state
            << " after the stretch, scalar at " << r.noiseStateAfter;
    return why.str();
}

// Every frequency over the first block, every mode: on the widest width all of them,
// on the narrower ones every ninth (the scalar reference costs most of the time here).
TEST(BlockSynthVector, EveryFrequencyOverTheFirstBlock)
{
    const auto widths = widthsHere();
    for (SoundMode mode : kSoundingModes)
        for (std::uint32_t f = 10; f <= 5000; f += kShare) {
            const Reference r = scalarReference(f, mode, 0, kBlockFrames, 1);
            for (SynthWidth w : widths) {
                if (w == widths.front() || f % 9 == 0) {
                    ASSERT_EQ(differenceFrom(r, w), "");
                }
            }
        }
}

// Blocks spread over the whole 2^32 frame range: block k starts somewhere in the k-th
// of 2000 equal slices, at any frequency, the modes in turn, the generator anywhere.
// The draws for every block are made even where a share of the blocks is compared, so
// block k is the same block in every build.
TEST(BlockSynthVector, BlocksAllOverTheFrameRange)
{
    constexpr std::uint32_t kStart = 20261208;
    std::mt19937 draw(kStart);
    const auto widths = widthsHere();
    constexpr std::uint32_t slice = 0xFFFFFFFFu / 2000;
    for (std::uint32_t k = 0; k < 2000; ++k) {
        const std::uint32_t first = k * slice + static_cast<std::uint32_t>(draw() % slice);
        const std::uint32_t f = 10 + static_cast<std::uint32_t>(draw() % 4991);
        const std::uint32_t state = static_cast<std::uint32_t>(draw());
        if (k % kShare != 0)
            continue;
        const Reference r = scalarReference(f, kSoundingModes[k % 3], first, kBlockFrames, state);
        for (SynthWidth w : widths)
            ASSERT_EQ(differenceFrom(r, w), "") << "random start " << kStart << ", block " << k;
    }
}

// Stretches across the wrap from 2^32 - 1 to 0, starting on and off the lane grid, and
// stretches whose length leaves a remainder after whole vectors and noise chunks.
TEST(BlockSynthVector, AcrossTheWrapAndOddLengths)
{
    const struct {
        std::uint32_t first, count;
    } stretches[] = {
        {0u - kBlockFrames / 2, kBlockFrames}, {0u - 5, kBlockFrames}, {0u - 3, 11},
        {0u - kBlockFrames + 3, kBlockFrames}, {7, 0}, {7, 1}, {7, 3}, {7, 9}, {7, 255}, {7, 257}, {7, 1001},
    };
    const auto widths = widthsHere();
    for (const auto& s : stretches)
        for (SoundMode mode : kSoundingModes)
            for (std::uint32_t f : {10u, 19u, 20u, 780u, 5000u}) {
                const Reference r = scalarReference(f, mode, s.first, s.count, 12345);
                for (SynthWidth w : widths)
                    ASSERT_EQ(differenceFrom(r, w), "");
            }
}

// Two noise sessions one after the other on one generator, as the audio worker runs
// them: each starts again at frame 0 and goes on with the generator where the last left
// it, in blocks and in the odd pieces a renderer may ask for.
TEST(BlockSynthVector, TwoNoiseSessionsInARow)
{
    const std::uint32_t pieces[] = {kBlockFrames, kBlockFrames, 1000, 3, kBlockFrames};
    for (SynthWidth w : widthsHere()) {
        NoiseGenerator scalar, vector;
        for (std::uint32_t f : {780u, 4321u}) {
            std::uint32_t first = 0;
            for (std::uint32_t count : pieces) {
                std::vector<std::int16_t> expected(2 * count), got(2 * count);
                synthesizeFramesScalar(expected.data(), count, f, SoundNoise, first, scalar);
                synthesizeFramesWith(w, kSynthMargin, got.data(), count, f, SoundNoise, first, vector);
                ASSERT_EQ(got, expected) << widthName(w) << " f=" << f << " piece from frame " << first;
                ASSERT_EQ(vector.state, scalar.state) << widthName(w);
                first += count;
            }
        }
    }
}

// The public entry is the widest path, and silence stays silent and draws nothing.
TEST(BlockSynthVector, PublicEntryAndSilence)
{
    for (SoundMode mode : {SoundNone, SoundBinaural, SoundBeeps, SoundNoise}) {
        const Reference r = scalarReference(780, mode, 4000000000u, kBlockFrames, 99);
        std::vector<std::int16_t> got(r.samples.size());
        NoiseGenerator g{99};
        synthesizeFrames(got.data(), kBlockFrames, 780, mode, 4000000000u, g);
        EXPECT_EQ(got, r.samples) << mode;
        EXPECT_EQ(g.state, r.noiseStateAfter) << mode;
    }
}

// Frames whose scaled sine the scalar path puts within 1e-9 of a whole number: near the
// crests of a slow sine (0.10 Hz), where the C library's sine is often exactly 1 and a
// vector sine a few ulps below truncates to one less. Every crest over the whole 2^32
// frame range is looked at.
std::vector<std::uint32_t> framesNearWholeProducts(double step)
{
    std::vector<std::uint32_t> frames;
    const double last = 4294967295.0 * step;
    for (double k = 0;; ++k) {
        const double crest = std::numbers::pi / 2 + k * std::numbers::pi;
        if (crest > last)
            break;
        const double n0 = std::floor(crest / step);
        for (double n : {n0, n0 + 1}) {
            const double p = std::sin(n * step) * 32767.0;
            if (n <= 4294967295.0 && std::fabs(p - std::nearbyint(p)) <= 1e-9)
                frames.push_back(static_cast<std::uint32_t>(n));
        }
    }
    return frames;
}

// With no margin the vector sine alone decides those frames, and somewhere the samples
// must then differ from the scalar path's; with the margin they never do. The first
// blocks of a session are the other place: there whole periods put frames almost
// exactly on the crests, so both ways are looked at.
TEST(BlockSynthVector, WithoutTheMarginTheRecomputeIsNeeded)
{
    const struct {
        SoundMode mode;
        double step; // of the sine whose product is near a whole number
    } cases[] = {
        {SoundBeeps, 6.2831853 / stimulationPeriod(10)}, // the gate's, giving the amplitude
        {SoundNoise, 3.14159265 / stimulationPeriod(10)}, // the envelope's
    };
    for (SynthWidth w : widthsHere()) {
        if (w == SynthWidth::Scalar)
            continue;
        std::uint32_t frames = 0, differing = 0;
        for (const auto& c : cases)
            for (std::uint32_t n : framesNearWholeProducts(c.step)) {
                const Reference r = scalarReference(10, c.mode, n - 7, 16, n);
                ++frames;
                differing += !differenceFrom(r, w, 0.0).empty();
                ASSERT_EQ(differenceFrom(r, w), "");
            }
        std::uint32_t blocks = 0;
        for (SoundMode mode : kSoundingModes)
            for (std::uint32_t f = 10; f < 100; ++f)
                blocks += !differenceFrom(scalarReference(f, mode, 0, kBlockFrames, 1), w, 0.0).empty();
        std::printf("%s without the margin: %u of %u frames near whole products differ; %u of 270 first blocks "
                    "(0.10-0.99 Hz) differ\n",
                    widthName(w), differing, frames, blocks);
        EXPECT_GT(differing, 0u) << widthName(w) << ": no frame needed the recompute among " << frames;
        EXPECT_GT(blocks, 0u) << widthName(w) << ": no first block needed the recompute";
    }
}

} // namespace

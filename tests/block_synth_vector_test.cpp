// The vector paths against the scalar one, sample for sample and the noise generator
// after: the public entry, the widest unit this processor has, and each narrower width
// the choice can be forced down to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
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

constexpr auto kPublicEntry = static_cast<SynthWidth>(0); // synthesizeFrames itself
constexpr SoundMode kSoundingModes[] = {SoundBinaural, SoundBeeps, SoundNoise};

std::vector<SynthWidth> pathsHere()
{
    std::vector<SynthWidth> paths{kPublicEntry};
    for (SynthWidth w : {SynthWidth::Avx512, SynthWidth::Avx2, SynthWidth::Scalar})
        if (w <= widestSynthWidth())
            paths.push_back(w);
    return paths;
}

struct Stretch {
    std::uint32_t frequency;
    SoundMode mode;
    std::uint32_t first, count, noiseState;
    bool everyPath = true; // or the public entry alone
};

std::ostream& operator<<(std::ostream& out, const Stretch& s)
{
    return out << "mode " << s.mode << ", f=" << s.frequency << ", " << s.count << " frames from " << s.first
               << ", noise state " << s.noiseState;
}

// Where the first of `paths` (with `margin`) that differs from the scalar path over the
// stretch does so, in the samples or the generator after it; empty if none does.
std::string difference(const Stretch& s, const std::vector<SynthWidth>& paths, double margin = kSynthMargin)
{
    std::vector<std::int16_t> expected(2 * std::size_t{s.count}), got(expected.size());
    NoiseGenerator reference{s.noiseState};
    synthesizeFramesScalar(expected.data(), s.count, s.frequency, s.mode, s.first, reference);
    for (SynthWidth w : paths) {
        NoiseGenerator g{s.noiseState};
        if (w == kPublicEntry)
            synthesizeFrames(got.data(), s.count, s.frequency, s.mode, s.first, g);
        else
            synthesizeFramesWith(w, margin, got.data(), s.count, s.frequency, s.mode, s.first, g);
        const std::string width = "width " + std::to_string(static_cast<std::uint32_t>(w)) + " (0: public): ";
        if (got != expected) {
            const auto at = std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin();
            return width + "sample " + std::to_string(at) + " is " + std::to_string(got[at]) + ", not " +
                   std::to_string(expected[at]);
        }
        if (g.state != reference.state)
            return width + "the generator is at " + std::to_string(g.state) + ", not " + std::to_string(reference.state);
    }
    return "";
}

// Every frequency over a session's first block (the narrower widths on every ninth, to
// spare the time); blocks all over the 2^32 frame range;
// stretches across the wrap from 2^32 - 1 to 0, on and off the lane grid; lengths that
// leave a remainder after whole vectors and noise chunks.
TEST(BlockSynthVector, EveryPathEqualsTheScalarPath)
{
    // A build without a vector sine (32-bit Windows) runs every width as the scalar path:
    // there is nothing to compare, and the comparison would take minutes under emulation.
    if (widestSynthWidth() == SynthWidth::Scalar)
        GTEST_SKIP() << "this build has no vector path";
    std::vector<Stretch> table;
    for (SoundMode mode : kSoundingModes)
        for (std::uint32_t f = 10; f <= 5000; f += kShare)
            table.push_back({f, mode, 0, kBlockFrames, 1, f % 9 == 0});
    // Block k starts somewhere in the k-th of 2000 equal slices, at any frequency, the
    // modes in turn, the generator anywhere. The draws are made for every block, so block
    // k is the same block in every build.
    std::mt19937 draw(20261208);
    constexpr std::uint32_t slice = 0xFFFFFFFFu / 2000;
    for (std::uint32_t k = 0; k < 2000; ++k) {
        const auto first = static_cast<std::uint32_t>(k * slice + draw() % slice);
        const auto f = static_cast<std::uint32_t>(10 + draw() % 4991);
        const auto state = static_cast<std::uint32_t>(draw());
        if (k % kShare == 0)
            table.push_back({f, kSoundingModes[k % 3], first, kBlockFrames, state});
    }
    const std::uint32_t odd[][2] = {{0u - kBlockFrames / 2, kBlockFrames}, {0u - 5, kBlockFrames}, {0u - 3, 11},
                                    {0u - kBlockFrames + 3, kBlockFrames}, {7, 0}, {7, 1}, {7, 3}, {7, 9},
                                    {7, 255}, {7, 257}, {7, 1001}, {25576, 3}};
    for (const auto& o : odd)
        for (SoundMode mode : {SoundNone, SoundBinaural, SoundBeeps, SoundNoise})
            for (std::uint32_t f : {10u, 19u, 20u, 780u, 4321u, 5000u})
                table.push_back({f, mode, o[0], o[1], 12345});
    const auto paths = pathsHere();
    for (const Stretch& s : table)
        ASSERT_EQ(difference(s, s.everyPath ? paths : std::vector{kPublicEntry}), "") << s;
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

// With the margin those frames equal the scalar path's; with no margin the vector sine
// alone decides them, and somewhere the samples must then differ. The first blocks of a
// session are the other place: there whole periods put frames almost exactly on crests.
TEST(BlockSynthVector, WithoutTheMarginTheRecomputeIsNeeded)
{
    const struct {
        SoundMode mode;
        double step; // of the sine whose product is near a whole number
    } cases[] = {
        {SoundBeeps, 6.2831853 / stimulationPeriod(10)}, // the gate's, giving the amplitude
        {SoundNoise, 3.14159265 / stimulationPeriod(10)}, // the envelope's
    };
    for (SynthWidth w : pathsHere()) {
        if (w == kPublicEntry || w == SynthWidth::Scalar)
            continue;
        std::uint32_t frames = 0, blocks = 0;
        for (const auto& c : cases)
            for (std::uint32_t n : framesNearWholeProducts(c.step)) {
                const Stretch s{10, c.mode, n - 7, 16, n};
                ASSERT_EQ(difference(s, {w}), "") << s;
                frames += !difference(s, {w}, 0.0).empty();
            }
        for (SoundMode mode : kSoundingModes)
            for (std::uint32_t f = 10; f < 100; ++f)
                blocks += !difference({f, mode, 0, kBlockFrames, 1}, {w}, 0.0).empty();
        EXPECT_GT(frames, 0u) << "width " << static_cast<std::uint32_t>(w) << ": no frame needed the recompute";
        EXPECT_GT(blocks, 0u) << "width " << static_cast<std::uint32_t>(w) << ": no first block needed it";
    }
}

} // namespace

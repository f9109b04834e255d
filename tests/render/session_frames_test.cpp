#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "render/render_session.h"
#include "render/session_frames.h"
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

TEST(SessionFrames, StretchesLaterInTheSessionContinueIt)
{
    // A render computes chunk after chunk, each on its own; each must match the same
    // stretch of the whole session, noise included.
    const std::uint32_t total = 6 * kBlockFrames + 100;
    for (SoundMode mode : {SoundNoise, SoundBinaural, SoundBeeps, SoundNone}) {
        const auto expected = straight(780, mode, total);
        const struct {
            std::uint32_t first, frames;
        } stretches[] = {{0, 7}, {kBlockFrames, 2 * kBlockFrames}, {3 * kBlockFrames, 3 * kBlockFrames + 100},
                         {6 * kBlockFrames, 100}};
        for (const auto& c : stretches) {
            std::vector<std::int16_t> got(2 * std::size_t{c.frames}, 0x5555);
            synthesizeSessionFrames(got.data(), c.first, c.frames, 780, mode);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + 2 * static_cast<std::ptrdiff_t>(c.first)))
                << "mode " << mode << " stretch at " << c.first;
        }
    }
}

TEST(SessionFrames, TheRendersChunksOnAnyNumberOfThreadsMakeTheSession)
{
    const std::uint32_t chunk = static_cast<std::uint32_t>(kRenderChunkFrames);
    const struct {
        std::uint32_t frequency;
        SoundMode mode;
        std::uint32_t frames;
    } sessions[] = {
        {780, SoundNoise, 9 * chunk + 1234}, // more chunks than a small ring, a partial last one
        {10, SoundNoise, 3 * chunk},
        {5000, SoundNoise, 7},
        {780, SoundBinaural, 5 * chunk + 1},
        {19, SoundBeeps, 2 * chunk - 1},
        {780, SoundNone, chunk + 5},
    };
    for (const auto& s : sessions) {
        const auto expected = straight(s.frequency, s.mode, s.frames);
        RenderArgs args;
        args.frequency = s.frequency;
        args.sound = s.mode;
        args.frames = s.frames;
        for (unsigned threads : {1u, 2u, 3u, 16u}) {
            std::vector<std::int16_t> got(expected.size(), 0x5555);
            std::size_t at = 0;
            const std::atomic<bool> stop{false};
            const bool whole = runChunkPipeline(
                renderPipelineShape(args.frames, threads),
                [&](std::uint64_t c, std::int16_t* samples) { computeRenderChunk(args, c, samples); },
                [&](std::uint64_t c, const std::int16_t* samples) {
                    const std::size_t n = 2 * std::size_t{renderChunkFrames(args.frames, c)};
                    std::memcpy(got.data() + at, samples, n * sizeof(std::int16_t));
                    at += n;
                    return true;
                },
                stop);
            EXPECT_TRUE(whole);
            EXPECT_EQ(at, expected.size());
            EXPECT_TRUE(got == expected) << "mode " << s.mode << " f " << s.frequency << " frames " << s.frames
                                         << " threads " << threads;
        }
    }
}

TEST(SessionFrames, ThreadCountIsSane)
{
    const unsigned n = renderThreadCount();
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 16u);
}

} // namespace

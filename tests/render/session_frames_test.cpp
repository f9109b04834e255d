// A render computes each chunk on its own, from the frame it starts at. Any stretch, at
// any frame, must equal that stretch of the whole session computed one block after
// another (noise included); render_e2e.py holds whole renders to the same reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/session_frames.h"
#include "sound/block_synth.h"

TEST(SessionFrames, StretchesLaterInTheSessionContinueIt)
{
    const std::uint32_t total = 6 * kBlockFrames + 100;
    const struct {
        std::uint32_t first, frames;
    } stretches[] = {{0, 7}, {kBlockFrames, 2 * kBlockFrames}, {3 * kBlockFrames, 3 * kBlockFrames + 100},
                     {6 * kBlockFrames, 100}, {5, kBlockFrames}};
    for (SoundMode mode : {SoundNoise, SoundBinaural, SoundBeeps, SoundNone}) {
        std::vector<std::int16_t> whole(2 * std::size_t{total});
        NoiseGenerator noise;
        for (std::uint32_t first = 0; first < total; first += kBlockFrames)
            synthesizeFrames(whole.data() + 2 * std::size_t{first}, std::min(kBlockFrames, total - first), 780,
                             mode, first, noise);
        for (const auto& s : stretches) {
            std::vector<std::int16_t> got(2 * std::size_t{s.frames}, 0x5555);
            synthesizeSessionFrames(got.data(), s.first, s.frames, 780, mode);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + static_cast<std::ptrdiff_t>(2 * s.first)))
                << "mode " << mode << " stretch at " << s.first;
        }
    }
}

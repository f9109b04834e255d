// Every header a render writes is render_e2e.py's, byte for byte. The one no render
// reaches is that of the cap a render is clamped to: its sizes must not wrap.
#include <gtest/gtest.h>

#include "render/render_args.h"
#include "render/wav_writer.h"

TEST(WavWriter, TheCapsSizesFitTheirFields)
{
    const auto h = wavHeader(kMaxRenderFrames);
    const auto le32 = [&h](std::size_t at) {
        return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<std::uint32_t>(h[at + 3]) << 24;
    };
    EXPECT_EQ(le32(40), kMaxRenderFrames * 4);      // data size
    EXPECT_EQ(le32(4), 36 + kMaxRenderFrames * 4);  // RIFF size
    EXPECT_GT(36 + (kMaxRenderFrames + 1) * 4, 0xFFFFFFFFull) << "the cap is the largest that fits";
}

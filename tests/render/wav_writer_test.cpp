#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/render_args.h"
#include "render/wav_writer.h"

namespace {

std::uint32_t le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

TEST(WavWriter, HeaderFieldsForEachSize)
{
    const std::uint64_t sizes[] = {1, 12288, 12289, 2646000, kMaxRenderFrames};
    for (std::uint64_t frames : sizes) {
        const auto h = wavHeader(frames);
        const unsigned char* p = h.data();
        const std::uint32_t data = static_cast<std::uint32_t>(frames * 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "RIFF");
        EXPECT_EQ(le32(p + 4), 36u + data) << frames;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 8), 8), "WAVEfmt ");
        EXPECT_EQ(le32(p + 16), 16u);         // fmt chunk size
        EXPECT_EQ(le16(p + 20), 1u);          // PCM
        EXPECT_EQ(le16(p + 22), 2u);          // stereo
        EXPECT_EQ(le32(p + 24), 44100u);      // frames per second
        EXPECT_EQ(le32(p + 28), 176400u);     // bytes per second
        EXPECT_EQ(le16(p + 32), 4u);          // bytes per frame
        EXPECT_EQ(le16(p + 34), 16u);         // bits per sample
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 36), 4), "data");
        EXPECT_EQ(le32(p + 40), data) << frames;
    }
}

TEST(WavWriter, LargestRenderStillFitsTheRiffSize)
{
    const auto h = wavHeader(kMaxRenderFrames);
    // The RIFF size is the largest the 32-bit field can hold without wrapping.
    EXPECT_GE(le32(h.data() + 4), le32(h.data() + 40));
    EXPECT_LE(std::uint64_t{36} + kMaxRenderFrames * 4, 0xFFFFFFFFull);
    EXPECT_GT(std::uint64_t{36} + (kMaxRenderFrames + 1) * 4, 0xFFFFFFFFull);
}

TEST(WavWriter, SamplesComeOutLittleEndian)
{
    const struct {
        std::int16_t value;
        unsigned char low, high;
    } cases[] = {{0, 0x00, 0x00}, {1, 0x01, 0x00}, {-1, 0xFF, 0xFF}, {32767, 0xFF, 0x7F},
                 {-32767, 0x01, 0x80}, {-32768, 0x00, 0x80}, {0x1234, 0x34, 0x12}};
    std::int16_t samples[std::size(cases)];
    for (std::size_t i = 0; i < std::size(cases); ++i)
        samples[i] = cases[i].value;
    samplesToLittleEndian(samples, std::size(cases));
    unsigned char bytes[sizeof samples];
    std::memcpy(bytes, samples, sizeof samples);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(bytes[2 * i], cases[i].low) << cases[i].value;
        EXPECT_EQ(bytes[2 * i + 1], cases[i].high) << cases[i].value;
    }
}

} // namespace

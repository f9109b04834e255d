// The number and name grammar of the command line, exactly; how the program reports
// what it refuses is render_e2e.py's (bad_arguments).
#include <gtest/gtest.h>

#include "render/render_args.h"

namespace {

using NS = NumberStatus;

// Each form a frequency may take, into exact hundredths; anything else refused for its
// own reason, the value left as it was.
TEST(RenderArgs, Frequency)
{
    const struct {
        const char* text;
        NS status;
        std::uint32_t hundredths;
    } cases[] = {
        {"7.8", NS::Ok, 780},   {"7.80", NS::Ok, 780},  {"7,80", NS::Ok, 780},  {"50.0", NS::Ok, 5000},
        {"12,34", NS::Ok, 1234}, {"10.05", NS::Ok, 1005}, {"007.80", NS::Ok, 780}, {"1", NS::Ok, 100},
        {"0.11", NS::Ok, 11},
        {"7,800", NS::TooManyDecimals, 0}, {"0.09", NS::OutOfRange, 0}, {"0", NS::OutOfRange, 0},
        {"0,00", NS::OutOfRange, 0}, {"50.01", NS::OutOfRange, 0}, {"51", NS::OutOfRange, 0},
        {"99999999999999999999", NS::OutOfRange, 0}, {"", NS::NotANumber, 0}, {"-7.8", NS::NotANumber, 0},
        {"+7.8", NS::NotANumber, 0}, {"7.", NS::NotANumber, 0}, {".5", NS::NotANumber, 0}, {"7.8.0", NS::NotANumber, 0},
        {"7,8,0", NS::NotANumber, 0}, {"1e1", NS::NotANumber, 0}, {" 7.8", NS::NotANumber, 0}, {"7.8 ", NS::NotANumber, 0},
        {"7.8Hz", NS::NotANumber, 0},
    };
    for (const auto& c : cases) {
        std::uint32_t f = 12345;
        EXPECT_EQ(parseFrequency(c.text, f), c.status) << "'" << c.text << "'";
        EXPECT_EQ(f, c.status == NS::Ok ? c.hundredths : 12345u) << "'" << c.text << "'";
    }
}

// Seconds into round(seconds * 44100) frames, halves up, worked out with exact
// fractions; the limit is 24347 s by any fraction.
TEST(RenderArgs, Seconds)
{
    const struct {
        const char* text;
        NS status;
        std::uint64_t frames;
    } cases[] = {
        {"60", NS::Ok, 2646000}, {"0.5", NS::Ok, 22050}, {"2,5", NS::Ok, 110250},
        {"0.00001134", NS::Ok, 1},            // 0.500094 frames
        {"0.00002267", NS::Ok, 1},            // 0.99975
        {"10.000011337868", NS::Ok, 441000},  // 441000.49999998
        {"10.000011337869", NS::Ok, 441001},  // 441000.50000002
        {"600", NS::Ok, 26460000}, {"0600.000", NS::Ok, 26460000},
        {"24347", NS::Ok, 1073702700}, {"24347,000", NS::Ok, 1073702700},
        {"024346.99999", NS::Ok, 1073702700}, // 1073702699.56
        {"0.000", NS::Zero, 0}, {"000", NS::Zero, 0},
        {"0.0000113378684807256", NS::NoFrames, 0}, // 0.49999999999999895 frames
        {"24347.00001", NS::OutOfRange, 0},        // a hair past 24347 s, the same frames
        {"24347.8869", NS::OutOfRange, 0},         // still fits a WAV file, but past 24347 s
        {"24347.887", NS::OutOfRange, 0},          // 1073741816.7 frames
        {"24348", NS::OutOfRange, 0}, {"99999999999999999999999", NS::OutOfRange, 0},
        {"-5", NS::NotANumber, 0}, {"-0.5", NS::NotANumber, 0}, {"", NS::NotANumber, 0}, {"ten", NS::NotANumber, 0},
        {"1e3", NS::NotANumber, 0}, {"5.", NS::NotANumber, 0}, {".5", NS::NotANumber, 0}, {"1:00", NS::NotANumber, 0},
        {"inf", NS::NotANumber, 0}, {"nan", NS::NotANumber, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t frames = 777;
        EXPECT_EQ(parseSecondsToFrames(c.text, frames), c.status) << "'" << c.text << "'";
        EXPECT_EQ(frames, c.status == NS::Ok ? c.frames : 777u) << "'" << c.text << "'";
    }
}

// Sound names exactly as written: no other case, no abbreviation, no number.
TEST(RenderArgs, SoundNamesRefused)
{
    for (const char* text : {"Noise", "beep", "", "3", "noise "}) {
        SoundMode mode = SoundBeeps;
        EXPECT_FALSE(parseSoundName(text, mode)) << "'" << text << "'";
        EXPECT_EQ(mode, SoundBeeps) << "'" << text << "'";
    }
}

} // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/render_args.h"

namespace {

ParseResult parse(std::vector<std::string> words)
{
    std::vector<const char*> argv{"zarvelin-render"};
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    return parseRenderArgs(static_cast<int>(argv.size()), argv.data());
}

TEST(RenderArgs, FrequencyAcceptedForms)
{
    const struct {
        const char* text;
        std::uint32_t hundredths;
    } cases[] = {
        {"7,8", 780},  {"7.8", 780},   {"7.80", 780},  {"7,80", 780}, {"0.10", 10},  {"0,1", 10},
        {"50", 5000},  {"50,00", 5000}, {"50.0", 5000}, {"49.99", 4999}, {"12,34", 1234},
        {"10.05", 1005}, {"007.80", 780}, {"1", 100},  {"0.11", 11},
    };
    for (const auto& c : cases) {
        std::uint32_t f = 0;
        EXPECT_EQ(parseFrequency(c.text, f), NumberStatus::Ok) << c.text;
        EXPECT_EQ(f, c.hundredths) << c.text;
    }
}

TEST(RenderArgs, FrequencyRejectedForms)
{
    const struct {
        const char* text;
        NumberStatus status;
    } cases[] = {
        {"7.805", NumberStatus::TooManyDecimals}, {"7,800", NumberStatus::TooManyDecimals},
        {"0.09", NumberStatus::OutOfRange},       {"0", NumberStatus::OutOfRange},
        {"0,00", NumberStatus::OutOfRange},       {"50.01", NumberStatus::OutOfRange},
        {"51", NumberStatus::OutOfRange},         {"99999999999999999999", NumberStatus::OutOfRange},
        {"", NumberStatus::NotANumber},           {"abc", NumberStatus::NotANumber},
        {"-7.8", NumberStatus::NotANumber},       {"+7.8", NumberStatus::NotANumber},
        {"7.", NumberStatus::NotANumber},         {".5", NumberStatus::NotANumber},
        {"7.8.0", NumberStatus::NotANumber},      {"7,8,0", NumberStatus::NotANumber},
        {"1e1", NumberStatus::NotANumber},        {" 7.8", NumberStatus::NotANumber},
        {"7.8 ", NumberStatus::NotANumber},       {"7.8Hz", NumberStatus::NotANumber},
    };
    for (const auto& c : cases) {
        std::uint32_t f = 12345;
        EXPECT_EQ(parseFrequency(c.text, f), c.status) << "'" << c.text << "'";
        EXPECT_EQ(f, 12345u) << "left untouched on rejection: " << c.text;
    }
}

TEST(RenderArgs, SecondsToFramesRoundsExactly)
{
    // Worked out with exact fractions: round(seconds * 44100), halves up.
    const struct {
        const char* text;
        std::uint64_t frames;
    } cases[] = {
        {"60", 2646000},
        {"1", 44100},
        {"0.5", 22050},
        {"2,5", 110250},
        {"0.00001134", 1},            // 0.500094 frames
        {"0.00002267", 1},            // 0.99975
        {"0.279", 12304},             // 12303.9
        {"0.27863945578", 12288},     // 12287.9999999
        {"10.000011337868", 441000},  // 441000.49999998
        {"10.000011337869", 441001},  // 441000.50000002
        {"600", 26460000},
        {"0600.000", 26460000},
        {"24347", 1073702700},        // the longest the usage states
        {"24347,000", 1073702700},
        {"024346.99999", 1073702700}, // 1073702699.56
    };
    for (const auto& c : cases) {
        std::uint64_t frames = 0;
        EXPECT_EQ(parseSecondsToFrames(c.text, frames), NumberStatus::Ok) << c.text;
        EXPECT_EQ(frames, c.frames) << c.text;
    }
}

TEST(RenderArgs, SecondsRejected)
{
    const struct {
        const char* text;
        NumberStatus status;
    } cases[] = {
        {"0", NumberStatus::Zero},
        {"0.000", NumberStatus::Zero},
        {"000", NumberStatus::Zero},
        {"0.0000113378684807256", NumberStatus::NoFrames}, // 0.49999999999999895 frames
        {"0.00001", NumberStatus::NoFrames},
        {"24347.00001", NumberStatus::OutOfRange},         // a hair past 24347 s, the same frames
        {"24347.8869", NumberStatus::OutOfRange},          // still fits a WAV file, but past 24347 s
        {"24347.887", NumberStatus::OutOfRange},           // 1073741816.7 frames
        {"24348", NumberStatus::OutOfRange},
        {"99999999999999999999999", NumberStatus::OutOfRange},
        {"-5", NumberStatus::NotANumber},
        {"-0.5", NumberStatus::NotANumber},
        {"", NumberStatus::NotANumber},
        {"ten", NumberStatus::NotANumber},
        {"1e3", NumberStatus::NotANumber},
        {"5.", NumberStatus::NotANumber},
        {".5", NumberStatus::NotANumber},
        {"1:00", NumberStatus::NotANumber},
        {"inf", NumberStatus::NotANumber},
        {"nan", NumberStatus::NotANumber},
    };
    for (const auto& c : cases) {
        std::uint64_t frames = 777;
        EXPECT_EQ(parseSecondsToFrames(c.text, frames), c.status) << "'" << c.text << "'";
        EXPECT_EQ(frames, 777u) << c.text;
    }
}

TEST(RenderArgs, SoundNames)
{
    const struct {
        const char* text;
        bool ok;
        SoundMode mode;
    } cases[] = {
        {"none", true, SoundNone},     {"binaural", true, SoundBinaural}, {"beeps", true, SoundBeeps},
        {"noise", true, SoundNoise},   {"Noise", false, SoundNone},       {"beep", false, SoundNone},
        {"", false, SoundNone},        {"3", false, SoundNone},           {"noise ", false, SoundNone},
    };
    for (const auto& c : cases) {
        SoundMode mode = SoundNone;
        EXPECT_EQ(parseSoundName(c.text, mode), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(mode, c.mode) << c.text;
            EXPECT_STREQ(soundName(mode), c.text);
        }
    }
}

TEST(RenderArgs, CommandLinesAccepted)
{
    const struct {
        std::vector<std::string> words;
        std::uint32_t frequency;
        SoundMode sound;
        std::uint64_t frames;
        const char* output;
    } cases[] = {
        {{"--seconds", "60", "--output", "session.wav"}, 780, SoundBinaural, 2646000, "session.wav"},
        {{"--frequency", "7.80", "--sound", "binaural", "--seconds", "60", "--output", "s.wav"},
         780, SoundBinaural, 2646000, "s.wav"},
        {{"--output", "a b.wav", "--seconds", "1", "--sound", "noise", "--frequency", "50,00"},
         5000, SoundNoise, 44100, "a b.wav"},
        {{"--frequency=0,10", "--sound=none", "--seconds=0.5", "--output=x.wav"}, 10, SoundNone, 22050, "x.wav"},
        {{"--sound", "beeps", "--seconds", "2", "--output", "-dash.wav"}, 780, SoundBeeps, 88200, "-dash.wav"},
        {{"--seconds", "1", "--output=--odd.wav"}, 780, SoundBinaural, 44100, "--odd.wav"},
    };
    for (const auto& c : cases) {
        const ParseResult r = parse(c.words);
        ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
        EXPECT_EQ(r.args.frequency, c.frequency);
        EXPECT_EQ(r.args.sound, c.sound);
        EXPECT_EQ(r.args.frames, c.frames);
        EXPECT_EQ(r.args.output, c.output);
    }
}

TEST(RenderArgs, HelpWins)
{
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"--seconds", "1", "--help"}, {"--help", "--bogus"}}) {
        EXPECT_EQ(parse(words).status, ParseStatus::Help) << words.size();
    }
    // The usage names every option and every exit status the program can end with.
    const std::string usage = renderUsage();
    for (const char* part : {"--frequency", "--sound", "--seconds", "--output", "--help", "0 done",
                             "2 bad arguments", "1 the file could not be written", "130 interrupted"})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
}

TEST(RenderArgs, CommandLinesRejectedWithOneClearLine)
{
    // Each message names what is wrong (the offending text) and what is accepted.
    const struct {
        std::vector<std::string> words;
        const char* names;    // the part that says what is wrong
        const char* accepted; // the part that says what would do
    } cases[] = {
        {{"--frequency", "60", "--seconds", "1", "--output", "o.wav"}, "'60' is out of range", "0.10 to 50.00"},
        {{"--frequency", "0.05", "--seconds", "1", "--output", "o.wav"}, "'0.05' is out of range", "0.10 to 50.00"},
        {{"--frequency", "7.805", "--seconds", "1", "--output", "o.wav"}, "more than two decimals", "at most two decimals"},
        {{"--frequency", "fast", "--seconds", "1", "--output", "o.wav"}, "'fast' is not a frequency", "such as 7.80"},
        {{"--sound", "rain", "--seconds", "1", "--output", "o.wav"}, "'rain' is not a sound", "none, binaural, beeps, noise"},
        {{"--seconds", "0", "--output", "o.wav"}, "'0' is not positive", "positive length"},
        {{"--seconds", "-3", "--output", "o.wav"}, "'-3' is not a positive number", "positive length"},
        {{"--seconds", "0.00001", "--output", "o.wav"}, "shorter than one sound frame", "positive length"},
        {{"--seconds", "30000", "--output", "o.wav"}, "'30000' is longer than 24347 seconds", "at most 24347"},
        {{"--seconds", "1", "--output", "o.wav", "--loud"}, "unknown option '--loud'", "--frequency HZ"},
        {{"--seconds", "1", "--output", "o.wav", "--loud=3"}, "unknown option '--loud'", "--frequency HZ"},
        {{"--seconds", "1", "--output", "o.wav", "-x"}, "unknown option '-x'", "--frequency HZ"},
        {{"--seconds", "1", "--output", "o.wav", "extra"}, "unexpected argument 'extra'", "--frequency HZ"},
        {{"--seconds", "1", "--output"}, "--output needs a value", "--output FILE"},
        {{"--seconds", "--output", "o.wav"}, "--seconds needs a value", "--seconds S"},
        {{"--seconds", "1", "--output="}, "--output is empty", "path of the WAV file"},
        {{"--seconds", "1"}, "missing --output", "path of the WAV file"},
        {{"--output", "o.wav"}, "missing --seconds", "positive length"},
        {{}, "missing --seconds", "positive length"},
        {{"--seconds", "1", "--seconds", "2", "--output", "o.wav"}, "--seconds is given more than once", "each option once"},
        {{"--frequency", "7.8", "--frequency", "7.9", "--seconds", "1", "--output", "o.wav"},
         "--frequency is given more than once", "each option once"},
    };
    for (const auto& c : cases) {
        const ParseResult r = parse(c.words);
        EXPECT_EQ(r.status, ParseStatus::Error) << c.names;
        EXPECT_NE(r.error.find(c.names), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.accepted), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line: " << r.error;
    }
}

} // namespace

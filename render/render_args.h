#pragma once
// The renderer's command line: what it accepts, and the one-line message for what it
// does not. Pure: touches no file, so every rule can be checked on its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"
#include "sound/block_synth.h"

// The largest render a WAV file can hold: its sizes are 32-bit, and the RIFF size
// counts 36 header bytes on top of the sample data.
constexpr std::uint64_t kMaxRenderFrames = (0xFFFFFFFFull - 36u) / 4u;

// The longest render accepted, in whole seconds: the usage, the manual page and the
// check all state this one number, and every length up to it fits in a WAV file.
constexpr std::uint64_t kMaxRenderSeconds = 24347;
static_assert(kMaxRenderSeconds * kSampleRate <= kMaxRenderFrames);
static_assert((kMaxRenderSeconds + 1) * kSampleRate > kMaxRenderFrames, "the longest that fits, in whole seconds");

struct RenderArgs {
    std::uint32_t frequency = kDefaultFrequency; // hundredths of a hertz
    SoundMode sound = SoundBinaural;
    std::uint64_t frames = 0;                    // round(seconds * 44100)
    std::string output;
};

enum class ParseStatus { Run, Help, Error };

struct ParseResult {
    ParseStatus status = ParseStatus::Error;
    RenderArgs args;
    std::string error; // for Error: what is wrong and what is accepted, one line
};

// Parses argv[1..argc-1]. Options take their value as the next argument or after '='.
ParseResult parseRenderArgs(int argc, const char* const* argv);

enum class NumberStatus { Ok, NotANumber, TooManyDecimals, OutOfRange, Zero, NoFrames };

// Hertz with a dot or a comma and at most two decimals, 0.10 to 50.00, exactly into
// hundredths (no floating point, so 7.80 is 780 and never 779).
NumberStatus parseFrequency(std::string_view text, std::uint32_t& hundredths);

// A plain decimal number of seconds (dot or comma, any number of decimals) turned into
// frames at 44.1 kHz, rounded half up, exactly: no floating point on the way.
// Zero is Zero, a length too short for one frame NoFrames, one longer than
// kMaxRenderSeconds (by any fraction) OutOfRange.
NumberStatus parseSecondsToFrames(std::string_view text, std::uint64_t& frames);

bool parseSoundName(std::string_view text, SoundMode& mode);

// The usage text, ending in a newline.
const std::string& renderUsage();

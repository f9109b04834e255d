#include "tests/windows_sound/probe_args.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kModeNames[kSoundModeCount] = {"none", "binaural", "beeps", "noise"};

// Whole decimal numbers only: no sign, no blanks, no trailing text.
bool parseDecimal(const char* text, unsigned long& value)
{
    if (text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0';
}

} // namespace

bool parseSoundMode(const char* text, SoundMode& mode)
{
    for (int k = 0; k < kSoundModeCount; ++k) {
        if (std::strcmp(text, kModeNames[k]) == 0) {
            mode = static_cast<SoundMode>(k);
            return true;
        }
    }
    std::fprintf(stderr, "unknown sound mode \"%s\": use none, binaural, beeps or noise\n", text);
    return false;
}

bool parseFrequency(const char* text, std::uint32_t& frequency)
{
    unsigned long v = 0;
    if (!parseDecimal(text, v) || !isValidFrequency(static_cast<std::uint32_t>(v)) ||
        v > kMaxFrequency) {
        std::fprintf(stderr,
                     "bad frequency \"%s\": give hundredths of a hertz, %u to %u (780 is 7.80 Hz)\n",
                     text, kMinFrequency, kMaxFrequency);
        return false;
    }
    frequency = static_cast<std::uint32_t>(v);
    return true;
}

bool parseCount(const char* text, const char* what, std::uint32_t low, std::uint32_t high,
                std::uint32_t& value)
{
    unsigned long v = 0;
    if (!parseDecimal(text, v) || v < low || v > high) {
        std::fprintf(stderr, "bad %s \"%s\": give a whole number from %u to %u\n", what, text,
                     low, high);
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

// web_reference: what the native core computes, for the web face's tests to hold the
// WebAssembly module and the page against. Built for the host from the same sources.
//
//   web_reference sound FREQ MODE FIRST FRAMES STATE
//       FRAMES stereo frames of sound mode MODE (0..3) at FREQ hundredths of a hertz,
//       the first with frame index FIRST, the noise generator starting at STATE: raw
//       little-endian s16 on stdout, computed by the scalar path one block at a time
//   web_reference noise STATE DRAWS     the generator's state after DRAWS draws
//   web_reference strobe FREQ FIRST COUNT   the grey levels of COUNT ticks, one a line
//   web_reference message FREQ REFRESH  whether a screen of REFRESH Hz shows the strobe
//                                       of FREQ (1 or 0), then the message if it does not
//   web_reference texts                 the control panel's texts, one a line
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "session/frequency_text.h"
#include "session/settings.h"
#include "session/strobe_limit_message.h"
#include "sound/block_synth.h"
#include "ui/control_table.h"
#include "visual/strobe_level.h"

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "web_reference: %s\n", what.c_str());
    std::exit(2);
}

unsigned long long number(const char* text, unsigned long long most, const char* name)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || v > most)
        fail(std::string(name) + " takes a whole number from 0 to " + std::to_string(most) + ", not '" + text + "'");
    return v;
}

std::uint32_t frequency(const char* text)
{
    const auto f = static_cast<std::uint32_t>(number(text, 99999, "FREQ"));
    if (!isValidFrequency(f))
        fail("FREQ takes hundredths of a hertz from 10 to 5000, not " + std::string(text));
    return f;
}

int sound(char** a)
{
    const std::uint32_t f = frequency(a[0]);
    const auto mode = static_cast<SoundMode>(number(a[1], kSoundModeCount - 1, "MODE"));
    auto first = static_cast<std::uint32_t>(number(a[2], 0xFFFFFFFFu, "FIRST"));
    std::uint64_t left = number(a[3], 1ull << 32, "FRAMES");
    NoiseGenerator noise;
    noise.state = static_cast<std::uint32_t>(number(a[4], 0xFFFFFFFFu, "STATE"));
    static SampleBlock block;
    while (left > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kBlockFrames));
        synthesizeFramesScalar(block.samples, n, f, mode, first, noise);
        if (std::fwrite(block.samples, 4, n, stdout) != n)
            return 1;
        first += n;
        left -= n;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int texts()
{
    for (const ControlRow& row : kControls) {
        std::printf("control %d %s\n", static_cast<int>(row.role), row.text);
        int count = 0;
        const char* const* captions = listCaptions(row.role, &count);
        for (int i = 0; i < count; ++i)
            std::printf("caption %s\n", captions[i]);
    }
    std::printf("selection %d\nrange %u %u %u\n", kInitialListSelection, kMinFrequency,
                kDefaultFrequency, kMaxFrequency);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "sound" && argc == 7)
        return sound(argv + 2);
    if (command == "noise" && argc == 4) {
        NoiseGenerator noise;
        noise.state = static_cast<std::uint32_t>(number(argv[2], 0xFFFFFFFFu, "STATE"));
        noise.skip(number(argv[3], ~0ull, "DRAWS"));
        std::printf("%u\n", noise.state);
        return 0;
    }
    if (command == "strobe" && argc == 5) {
        const double step = phaseStep(ticksPerCycle(frequency(argv[2])));
        const auto first = static_cast<std::uint32_t>(number(argv[3], 0xFFFFFFFFu, "FIRST"));
        const auto count = static_cast<std::uint32_t>(number(argv[4], 100000000u, "COUNT"));
        for (std::uint32_t i = 0; i < count; ++i)
            std::printf("%u\n", strobeLevel(first + i, step));
        return 0;
    }
    if (command == "message" && argc == 4) {
        const std::uint32_t f = frequency(argv[2]);
        char* end = nullptr;
        const double rate = std::strtod(argv[3], &end);
        if (*argv[3] == '\0' || *end != '\0')
            fail(std::string("REFRESH takes a number of hertz, not '") + argv[3] + "'");
        const bool shows = strobeCanShow(f, rate);
        std::printf("%d\n%s", shows ? 1 : 0, shows ? "" : strobeLimitMessage(f, rate).c_str());
        return 0;
    }
    if (command == "texts" && argc == 2)
        return texts();
    fail("usage: web_reference sound FREQ MODE FIRST FRAMES STATE | noise STATE DRAWS | "
         "strobe FREQ FIRST COUNT | message FREQ REFRESH | texts");
}

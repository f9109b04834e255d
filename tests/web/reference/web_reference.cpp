// web_reference: what the native core computes, for the web face's tests to hold the
// WebAssembly module and the page against. Built for the host from the same sources.
//
//   web_reference sound FREQ MODE FIRST FRAMES STATE
//       FRAMES stereo frames of sound mode MODE (0..3) at FREQ hundredths of a hertz,
//       the first with frame index FIRST, the noise generator starting at STATE: raw
//       little-endian s16 on stdout, computed by the scalar path one block at a time,
//       then the generator's state after them (4 bytes, little-endian)
//   web_reference strobe FREQ FIRST COUNT   the grey levels of COUNT ticks, one a line
//   web_reference message FREQ REFRESH  whether a screen of REFRESH Hz shows the strobe
//                                       of FREQ (1 or 0), then the message if it does not
//   web_reference texts                 the control panel's texts, one a line
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings.h"
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

std::uint32_t number(const char* text, std::uint32_t most, const char* name)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || v > most)
        fail(std::string(name) + " takes a whole number from 0 to " + std::to_string(most) + ", not '" + text + "'");
    return static_cast<std::uint32_t>(v);
}

std::uint32_t frequency(const char* text)
{
    const std::uint32_t f = number(text, kMaxFrequency, "FREQ");
    if (!isValidFrequency(f))
        fail("FREQ takes hundredths of a hertz from 10 to 5000, not " + std::string(text));
    return f;
}

int sound(char** a)
{
    const std::uint32_t f = frequency(a[0]);
    const auto mode = static_cast<SoundMode>(number(a[1], kSoundModeCount - 1, "MODE"));
    std::uint32_t first = number(a[2], 0xFFFFFFFFu, "FIRST");
    std::uint32_t left = number(a[3], 0xFFFFFFFFu, "FRAMES");
    NoiseGenerator noise;
    noise.state = number(a[4], 0xFFFFFFFFu, "STATE");
    static SampleBlock block;
    while (left > 0) {
        const std::uint32_t n = std::min(left, kBlockFrames);
        synthesizeFramesScalar(block.samples, n, f, mode, first, noise);
        if (std::fwrite(block.samples, 4, n, stdout) != n)
            return 1;
        first += n;
        left -= n;
    }
    return std::fwrite(&noise.state, 4, 1, stdout) == 1 && std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "sound" && argc == 7)
        return sound(argv + 2);
    if (command == "strobe" && argc == 5) {
        const double step = phaseStep(ticksPerCycle(frequency(argv[2])));
        const std::uint32_t first = number(argv[3], 0xFFFFFFFFu, "FIRST");
        for (std::uint32_t i = 0, count = number(argv[4], 100000000u, "COUNT"); i < count; ++i)
            std::printf("%u\n", strobeLevel(first + i, step));
        return 0;
    }
    if (command == "message" && argc == 4) {
        char* end = nullptr;
        const double rate = std::strtod(argv[3], &end);
        if (*argv[3] == '\0' || *end != '\0')
            fail(std::string("REFRESH takes a number of hertz, not '") + argv[3] + "'");
        const std::uint32_t f = frequency(argv[2]);
        const bool shows = strobeCanShow(f, rate);
        std::printf("%d\n%s", shows ? 1 : 0, shows ? "" : strobeLimitMessage(f, rate).c_str());
        return 0;
    }
    if (command == "texts" && argc == 2) {
        for (const ControlRow& row : kControls) {
            std::printf("control %d %s\n", static_cast<int>(row.role), row.text);
            int count = 0;
            const char* const* captions = listCaptions(row.role, &count);
            for (int i = 0; i < count; ++i)
                std::printf("caption %s\n", captions[i]);
        }
        return 0;
    }
    fail("usage: web_reference sound FREQ MODE FIRST FRAMES STATE | strobe FREQ FIRST COUNT | "
         "message FREQ REFRESH | texts");
}

// web_reference: what the native core computes, for the web face's tests to hold the
// WebAssembly module and the page against; built for the host from the same sources.
//   sound FREQ MODE FIRST FRAMES STATE  FRAMES stereo frames of mode MODE at FREQ hundredths
//       of a hertz from frame FIRST, the noise generator at STATE, a block at a time as the
//       scalar path computes them: raw s16 on stdout, then the generator's state (4 bytes)
//   strobe FREQ FIRST COUNT   the grey levels of COUNT ticks, one a line
//   message FREQ REFRESH      1 if a screen of REFRESH Hz shows the strobe of FREQ, else 0
//                             and the message
//   texts                     the control panel's texts, one a line
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "session/strobe_limit_message.h"
#include "settings/settings.h"
#include "sound/block_synth.h"
#include "ui/control_table.h"
#include "visual/strobe_level.h"

namespace {

[[noreturn]] void usage(const char* bad)
{
    std::fprintf(stderr, "web_reference: '%s' is not accepted. Usage: sound FREQ MODE FIRST FRAMES STATE | strobe FREQ "
                 "FIRST COUNT | message FREQ REFRESH | texts; FREQ 10..5000, MODE 0..3, the rest whole numbers "
                 "below 2^32, REFRESH a number\n", bad);
    std::exit(2);
}

std::uint32_t number(const char* text, std::uint32_t least = 0, std::uint32_t most = 0xFFFFFFFFu)
{
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || v < least || v > most)
        usage(text);
    return static_cast<std::uint32_t>(v);
}

std::uint32_t frequency(const char* text) { return number(text, kMinFrequency, kMaxFrequency); }

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    char** a = argv + 2;
    if (command == "sound" && argc == 7) {
        const std::uint32_t f = frequency(a[0]);
        const auto mode = static_cast<SoundMode>(number(a[1], 0, kSoundModeCount - 1));
        NoiseGenerator noise;
        noise.state = number(a[4]);
        static SampleBlock block;
        for (std::uint32_t first = number(a[2]), left = number(a[3]), n; left > 0; left -= n, first += n) {
            n = std::min(left, kBlockFrames);
            synthesizeFramesScalar(block.samples, n, f, mode, first, noise);
            if (std::fwrite(block.samples, 4, n, stdout) != n)
                return 1;
        }
        return std::fwrite(&noise.state, 4, 1, stdout) == 1 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (command == "strobe" && argc == 5) {
        const double step = phaseStep(ticksPerCycle(frequency(a[0])));
        for (std::uint32_t i = 0, first = number(a[1]), count = number(a[2]); i < count; ++i)
            std::printf("%u\n", strobeLevel(first + i, step));
        return 0;
    }
    if (command == "message" && argc == 4) {
        char* end = nullptr;
        const double rate = std::strtod(a[1], &end);
        if (*a[1] == '\0' || *end != '\0')
            usage(a[1]);
        const std::uint32_t f = frequency(a[0]);
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
    usage(argc > 1 ? argv[1] : "");
}

// synth_dump FREQUENCY MODE FRAMES [FREQUENCY MODE FRAMES]...: the first FRAMES frames
// of each session (FREQUENCY in hundredths of a hertz, sound MODE 0..3) as raw s16le
// stereo on stdout, computed one block after another on one thread with a fresh
// generator. Built for each platform, so each renderer meets its own build's synthesis.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "sound/block_synth.h"

int main(int argc, char** argv)
{
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fputs("usage: synth_dump FREQUENCY MODE FRAMES [FREQUENCY MODE FRAMES]...\n", stderr);
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // bytes, not text: no \r before each \n
#endif
    static SampleBlock block;
    for (int a = 1; a < argc; a += 3) {
        const auto frequency = static_cast<std::uint32_t>(std::strtoul(argv[a], nullptr, 10));
        const long mode = std::strtol(argv[a + 1], nullptr, 10);
        const auto frames = static_cast<std::uint32_t>(std::strtoul(argv[a + 2], nullptr, 10));
        if (!isValidFrequency(frequency) || !isValidSoundMode(mode)) {
            std::fputs("synth_dump: frequency 10..5000, mode 0..3\n", stderr);
            return 2;
        }
        NoiseGenerator noise;
        for (std::uint32_t first = 0; first < frames; first += kBlockFrames) {
            const std::uint32_t n = std::min(kBlockFrames, frames - first);
            synthesizeFrames(block.samples, n, frequency, static_cast<SoundMode>(mode), first, noise);
            for (std::uint32_t i = 0; i < 2 * n; ++i) {
                const auto v = static_cast<std::uint16_t>(block.samples[i]);
                std::putchar(v & 0xFF);
                std::putchar(v >> 8);
            }
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

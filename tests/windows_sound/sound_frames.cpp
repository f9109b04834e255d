// zarvelin-sound-frames MODE FREQUENCY FRAMES FILE [NOISE_DRAWS]
// Writes the first FRAMES stereo frames of a session's sound, as raw 16-bit little-endian
// PCM, computed by the same synthesis the worker uses: what a device must deliver for one
// session. The noise generator starts as at process start, moved on by NOISE_DRAWS draws
// (the frames earlier sessions of the same process computed). The file appears only when
// complete.
#include <cstdio>
#include <string>
#include <vector>

#include "session/settings.h"
#include "sound/block_synth.h"
#include "tests/windows_sound/probe_args.h"

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: zarvelin-sound-frames MODE FREQUENCY FRAMES FILE [NOISE_DRAWS]\n"
                             "  MODE: none, binaural, beeps or noise; FREQUENCY: 10..5000; "
                             "FRAMES: 1..100000000; NOISE_DRAWS: 0..4000000000\n");
        return 2;
    }
    SoundMode mode = SoundNone;
    std::uint32_t frequency = 0, frames = 0, draws = 0;
    if (!parseSoundMode(argv[1], mode) || !parseFrequency(argv[2], frequency) ||
        !parseCount(argv[3], "frame count", 1, 100000000, frames) ||
        (argc == 6 && !parseCount(argv[5], "number of noise draws", 0, 4000000000u, draws)))
        return 2;

    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
    NoiseGenerator noise;
    noise.skip(draws);
    synthesizeFrames(samples.data(), frames, frequency, mode, 0, noise);

    const std::string target = argv[4];
    const std::string partial = target + ".partial";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot create \"%s\"\n", partial.c_str());
        return 1;
    }
    const bool written = std::fwrite(samples.data(), sizeof(std::int16_t), samples.size(), out) ==
                         samples.size();
    const bool closed = std::fclose(out) == 0;
    std::remove(target.c_str());
    if (!written || !closed || std::rename(partial.c_str(), target.c_str()) != 0) {
        std::remove(partial.c_str());
        std::fprintf(stderr, "cannot write \"%s\"\n", target.c_str());
        return 1;
    }
    return 0;
}

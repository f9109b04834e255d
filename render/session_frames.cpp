#include "render/session_frames.h"

#include <algorithm>
#include <thread>

#include "sound/block_synth.h"

unsigned renderThreadCount()
{
    const unsigned reported = std::thread::hardware_concurrency();
    return std::clamp(reported, 1u, 16u);
}

void synthesizeSessionFrames(std::int16_t* out, std::uint32_t firstFrame, std::uint32_t frameCount,
                             std::uint32_t frequency, SoundMode mode)
{
    NoiseGenerator noise; // fresh, as at the start of a render
    if (mode == SoundNoise)
        noise.skip(firstFrame); // one draw per frame before this stretch
    for (std::uint32_t done = 0; done < frameCount;) {
        const std::uint32_t n = std::min(kBlockFrames, frameCount - done);
        synthesizeFrames(out + 2 * static_cast<std::size_t>(done), n, frequency, mode, firstFrame + done, noise);
        done += n;
    }
}

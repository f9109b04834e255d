#include "render/parallel_synth.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "sound/block_synth.h"

namespace {

void synthesizeSlice(std::int16_t* out, std::uint32_t firstFrame, std::uint32_t frameCount,
                     std::uint32_t frequency, SoundMode mode)
{
    NoiseGenerator noise; // fresh, as at the start of a render
    if (mode == SoundNoise)
        noise.skip(firstFrame); // one draw per frame before this slice
    std::uint32_t done = 0;
    while (done < frameCount) {
        const std::uint32_t n = std::min(kBlockFrames, frameCount - done);
        synthesizeFrames(out + 2 * static_cast<std::size_t>(done), n, frequency, mode, firstFrame + done, noise);
        done += n;
    }
}

} // namespace

unsigned renderThreadCount()
{
    const unsigned reported = std::thread::hardware_concurrency();
    return std::clamp(reported, 1u, 16u);
}

void synthesizeSessionFrames(std::int16_t* out, std::uint32_t firstFrame, std::uint32_t frameCount,
                             std::uint32_t frequency, SoundMode mode, unsigned threads)
{
    // Whole blocks per thread, the last slice taking what is left.
    const std::uint32_t blocks = (frameCount + kBlockFrames - 1) / kBlockFrames;
    threads = std::clamp(threads, 1u, std::max(blocks, 1u));
    const std::uint32_t blocksPerSlice = (blocks + threads - 1) / threads;
    const std::uint32_t sliceFrames = blocksPerSlice * kBlockFrames;

    std::vector<std::thread> helpers;
    helpers.reserve(threads);
    std::uint32_t start = 0;
    // The calling thread takes the first slice itself; helpers take the rest.
    const std::uint32_t ownFrames = std::min(sliceFrames, frameCount);
    for (start = ownFrames; start < frameCount; start += sliceFrames) {
        const std::uint32_t n = std::min(sliceFrames, frameCount - start);
        std::int16_t* sliceOut = out + 2 * static_cast<std::size_t>(start);
        try {
            helpers.emplace_back(synthesizeSlice, sliceOut, firstFrame + start, n, frequency, mode);
        } catch (const std::exception&) {
            // No thread to be had: the slice is the same computed here, only later.
            synthesizeSlice(sliceOut, firstFrame + start, n, frequency, mode);
        }
    }
    synthesizeSlice(out, firstFrame, ownFrames, frequency, mode);
    for (std::thread& t : helpers)
        t.join();
}

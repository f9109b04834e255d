// The time to compute one 12288-frame block per sound mode, on one core, and how many
// times faster than it plays (a block lasts 12288 / 44100 s, about 0.279 s).
#include <benchmark/benchmark.h>

#include "sound/block_synth.h"

namespace {

constexpr double kBlockSeconds = static_cast<double>(kBlockFrames) / kSampleRate;

void synthesizeOneBlock(benchmark::State& state)
{
    const auto mode = static_cast<SoundMode>(state.range(0));
    const auto frequency = static_cast<std::uint32_t>(state.range(1));
    static SampleBlock block;
    NoiseGenerator noise;
    std::uint32_t first = 0;
    for (auto _ : state) {
        synthesizeBlock(block, frequency, mode, first, noise);
        benchmark::DoNotOptimize(block.samples);
        benchmark::ClobberMemory();
        first += kBlockFrames; // a session's next block, as the stream computes them
    }
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
    // Block seconds per second of computing: the real-time factor.
    state.counters["realtime_x"] =
        benchmark::Counter(kBlockSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(synthesizeOneBlock)
    ->ArgNames({"mode", "f"})
    ->Args({SoundNone, 780})
    ->Args({SoundBinaural, 780})
    ->Args({SoundBeeps, 780})
    ->Args({SoundNoise, 780})
    ->Args({SoundNoise, 10})
    ->Args({SoundNoise, 5000})
    ->Unit(benchmark::kMicrosecond);

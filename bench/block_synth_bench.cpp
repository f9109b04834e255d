// The time to compute one 12288-frame block per sound mode, on one core, and how many
// times faster than it plays (a block lasts 12288 / 44100 s, about 0.279 s): the scalar
// path and each vector width this processor has, side by side.
#include <benchmark/benchmark.h>

#include "sound/block_synth.h"
#include "sound/block_synth_width.h"

namespace {

constexpr double kBlockSeconds = static_cast<double>(kBlockFrames) / kSampleRate;

void synthesizeOneBlock(benchmark::State& state)
{
    const auto mode = static_cast<SoundMode>(state.range(0));
    const auto frequency = static_cast<std::uint32_t>(state.range(1));
    const auto width = static_cast<SynthWidth>(state.range(2));
    if (static_cast<std::uint32_t>(width) > static_cast<std::uint32_t>(widestSynthWidth())) {
        state.SkipWithError("this processor lacks that vector unit");
        return;
    }
    static SampleBlock block;
    NoiseGenerator noise;
    std::uint32_t first = 0;
    double redone = 0;
    for (auto _ : state) {
        redone += synthesizeFramesWith(width, kSynthMargin, block.samples, kBlockFrames, frequency, mode, first, noise);
        benchmark::DoNotOptimize(block.samples);
        benchmark::ClobberMemory();
        first += kBlockFrames; // a session's next block, as the stream computes them
    }
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
    // Block seconds per second of computing: the real-time factor.
    state.counters["realtime_x"] =
        benchmark::Counter(kBlockSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Frames computed again with the C library's sine, per block.
    state.counters["redone_per_block"] = benchmark::Counter(redone, benchmark::Counter::kAvgIterations);
}

void everyModeAndWidth(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"mode", "f", "width"});
    const long widths[] = {static_cast<long>(SynthWidth::Scalar), static_cast<long>(SynthWidth::Avx2),
                           static_cast<long>(SynthWidth::Avx512)};
    const long cases[][2] = {{SoundNone, 780},  {SoundBinaural, 780}, {SoundBeeps, 780},
                             {SoundNoise, 780}, {SoundNoise, 10},     {SoundNoise, 5000}};
    for (const auto& c : cases)
        for (long w : widths)
            b->Args({c[0], c[1], w});
}

} // namespace

BENCHMARK(synthesizeOneBlock)->Apply(everyModeAndWidth)->Unit(benchmark::kMicrosecond);

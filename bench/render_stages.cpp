// render_stages SECONDS SOUND FOLDER: where a render's time goes. Times, in this process,
// the same pipeline the renderer runs (a) computing only, every chunk thrown away, on
// all cores and on one; (b) writing only, the same number of bytes from one computed
// chunk into a replacement file in FOLDER, put in place and removed; (c) both, the
// render as the program does it. Prints one line per stage: wall and processor seconds.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>

#include "render/session_frames.h"
#include "render/render_args.h"
#include "render/render_session.h"
#include "render/replace_file.h"
#include "render/wav_writer.h"

namespace {

double processorSeconds()
{
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(used.ru_utime) + seconds(used.ru_stime);
}

template <typename Work>
void timeStage(const char* name, Work work)
{
    const double cpu0 = processorSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = work();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
    std::printf("%s wall %.3f cpu %.3f%s\n", name, wall.count(), processorSeconds() - cpu0, ok ? "" : " FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: render_stages SECONDS SOUND FOLDER\n", stderr);
        return 2;
    }
    RenderArgs args;
    if (parseSecondsToFrames(argv[1], args.frames) != NumberStatus::Ok || !parseSoundName(argv[2], args.sound)) {
        std::fputs("render_stages: SECONDS a positive number, SOUND one of none, binaural, beeps, noise\n", stderr);
        return 2;
    }
    args.output = (std::filesystem::path(argv[3]) / "stages.wav").string();
    const std::atomic<bool> stop{false};
    const unsigned threads = renderThreadCount();

    auto computeOnly = [&](unsigned computing) {
        return [&, computing] {
            const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* samples) {
                computeRenderChunk(args, chunk, samples);
            };
            const ChunkConsume discard = [](std::uint64_t, const std::int16_t*) { return true; };
            return runChunkPipeline(renderPipelineShape(args.frames, computing), compute, discard, stop);
        };
    };
    timeStage("compute-all-cores", computeOnly(threads));
    timeStage("compute-one-core", computeOnly(1));

    timeStage("write-only", [&] {
        const ChunkPipelineShape shape = renderPipelineShape(args.frames, 1);
        auto chunk = std::make_unique<std::int16_t[]>(shape.chunkSamples);
        computeRenderChunk(args, 0, chunk.get());
        ReplacementFile file;
        std::string message;
        const auto header = wavHeader(args.frames);
        bool ok = beginReplacement(file, args.output, message) &&
                  writeReplacement(file, header.data(), header.size(), message);
        for (std::uint64_t c = 0; ok && c < shape.chunks; ++c)
            ok = writeReplacement(file, chunk.get(), renderChunkFrames(args.frames, c) * std::size_t{kWavFrameBytes}, message);
        ok = ok && commitReplacement(file, message);
        std::filesystem::remove(args.output);
        return ok;
    });

    timeStage("compute-and-write", [&] {
        Progress progress;
        progressBegin(progress, false);
        const RenderReport report = renderSession(args, threads, progress, stop);
        std::filesystem::remove(args.output);
        return report.outcome == RenderOutcome::Done;
    });
    return 0;
}

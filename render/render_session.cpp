#include "render/render_session.h"

#include <algorithm>
#include <exception>

#include "render/chunk_pipeline.h"
#include "render/parallel_synth.h"
#include "render/replace_file.h"
#include "render/utf8_args.h"
#include "render/wav_writer.h"
#include "sound/block_synth.h"

namespace {

// Blocks per chunk: large enough that handing a chunk over costs nothing next to its
// sines and its write, small enough that the ring stays a few megabytes and the
// first write starts within a few milliseconds.
constexpr std::uint32_t kBlocksPerChunk = 4;
constexpr std::uint64_t kChunkFrames = std::uint64_t{kBlocksPerChunk} * kBlockFrames;
// Chunks in the ring per computing thread: room for each to run ahead of a write that
// stalls for a moment.
constexpr unsigned kSlotsPerThread = 4;

// Writes the header and every frame into `file`: `threads` threads compute chunk after
// chunk while this one writes them in order. Returns false with `report` filled in when
// it stops early; never leaves a computing thread behind.
bool streamFrames(const RenderArgs& args, unsigned threads, ReplacementFile& file, Progress& progress,
                  const std::atomic<bool>& stop, RenderReport& report)
{
    const std::uint64_t total = std::min(args.frames, kMaxRenderFrames);
    const auto header = wavHeader(total);
    if (!writeReplacement(file, header.data(), header.size(), report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return false;
    }

    auto framesOf = [total](std::uint64_t chunk) {
        return static_cast<std::uint32_t>(std::min(kChunkFrames, total - chunk * kChunkFrames));
    };
    ChunkPipelineShape shape;
    shape.chunks = (total + kChunkFrames - 1) / kChunkFrames;
    shape.chunkSamples = static_cast<std::size_t>(2 * std::min(kChunkFrames, total));
    shape.threads = std::max(threads, 1u);
    shape.slots = kSlotsPerThread * shape.threads;

    const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* samples) {
        const std::uint32_t frames = framesOf(chunk);
        synthesizeSessionFrames(samples, static_cast<std::uint32_t>(chunk * kChunkFrames), frames, args.frequency,
                                args.sound, 1);
        samplesToLittleEndian(samples, 2 * std::size_t{frames});
    };
    const ChunkConsume write = [&](std::uint64_t chunk, const std::int16_t* samples) {
        const std::uint32_t frames = framesOf(chunk);
        if (!writeReplacement(file, samples, std::size_t{frames} * kWavFrameBytes, report.message)) {
            report.outcome = RenderOutcome::WriteFailed;
            return false;
        }
        progressUpdate(progress, chunk * kChunkFrames + frames, total);
        return true;
    };
    if (runChunkPipeline(shape, compute, write, stop))
        return true;
    if (report.outcome != RenderOutcome::WriteFailed) {
        report.message = "interrupted; '" + args.output + "' was not written";
        report.outcome = RenderOutcome::Interrupted;
    }
    return false;
}

} // namespace

RenderReport renderSession(const RenderArgs& args, unsigned threads, Progress& progress,
                           const std::atomic<bool>& stop)
{
    RenderReport report;
    const std::filesystem::path target = pathFromArgument(args.output);
    if (checkTarget(target, report.message) != TargetCheck::Ok) {
        report.outcome = RenderOutcome::BadTarget;
        return report;
    }
    ReplacementFile file;
    if (!beginReplacement(file, target, report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return report;
    }
    auto fail = [&](RenderOutcome outcome) {
        abandonReplacement(file);
        report.outcome = outcome;
        return report;
    };

    try {
        if (!streamFrames(args, threads, file, progress, stop, report))
            return fail(report.outcome);
    } catch (const std::exception& e) {
        // No memory for the chunks, or no thread to be had: nothing is put in place.
        report.message = std::string("cannot render: ") + e.what();
        return fail(RenderOutcome::WriteFailed);
    }
    if (!commitReplacement(file, report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return report;
    }
    report.outcome = RenderOutcome::Done;
    return report;
}

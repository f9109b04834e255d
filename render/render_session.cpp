#include "render/render_session.h"

#include <algorithm>
#include <exception>

#include "render/replace_file.h"
#include "render/session_frames.h"
#include "render/single_quoted.h"
#include "render/utf8_args.h"
#include "render/wav_writer.h"
#include "sound/block_synth.h"

namespace {

constexpr std::uint64_t kChunkFrames = kRenderChunkFrames;

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

    const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* samples) {
        computeRenderChunk(args, chunk, samples);
    };
    const ChunkConsume write = [&](std::uint64_t chunk, const std::int16_t* samples) {
        const std::uint32_t frames = renderChunkFrames(total, chunk);
        if (!writeReplacement(file, samples, std::size_t{frames} * kWavFrameBytes, report.message)) {
            report.outcome = RenderOutcome::WriteFailed;
            return false;
        }
        progressUpdate(progress, chunk * kChunkFrames + frames, total);
        return true;
    };
    if (runChunkPipeline(renderPipelineShape(total, threads), compute, write, stop))
        return true;
    if (report.outcome != RenderOutcome::WriteFailed) {
        report.message = "interrupted; " + singleQuoted(args.output) + " was not written";
        report.outcome = RenderOutcome::Interrupted;
    }
    return false;
}

} // namespace

ChunkPipelineShape renderPipelineShape(std::uint64_t frames, unsigned threads)
{
    ChunkPipelineShape shape;
    shape.chunks = (frames + kChunkFrames - 1) / kChunkFrames;
    shape.chunkSamples = static_cast<std::size_t>(2 * std::min(kChunkFrames, frames));
    shape.threads = std::max(threads, 1u);
    shape.slots = kRenderSlotsPerThread * shape.threads;
    return shape;
}

std::uint32_t renderChunkFrames(std::uint64_t frames, std::uint64_t chunk)
{
    return static_cast<std::uint32_t>(std::min(kChunkFrames, frames - chunk * kChunkFrames));
}

void computeRenderChunk(const RenderArgs& args, std::uint64_t chunk, std::int16_t* samples)
{
    const std::uint32_t frames = renderChunkFrames(std::min(args.frames, kMaxRenderFrames), chunk);
    synthesizeSessionFrames(samples, static_cast<std::uint32_t>(chunk * kChunkFrames), frames, args.frequency,
                            args.sound);
    samplesToLittleEndian(samples, 2 * std::size_t{frames});
}

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

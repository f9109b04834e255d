#include "render/render_session.h"

#include <algorithm>
#include <exception>
#include <functional>

#include "render/replace_file.h"
#include "render/session_frames.h"
#include "render/single_quoted.h"
#include "render/standard_output.h"
#include "render/terminal.h"
#include "render/utf8_args.h"
#include "render/wav_writer.h"
#include "sound/block_synth.h"

namespace {

constexpr std::uint64_t kChunkFrames = kRenderChunkFrames;

// Takes the render's bytes in order; false with a message when they cannot be written.
using WriteBytes = std::function<bool(const void* bytes, std::size_t count, std::string& message)>;

// Writes the header and every frame through `write`: `threads` threads compute chunk
// after chunk while this one writes them in order. Returns false with `report`'s
// outcome set (and its message, for a failed write) when it stops early; never leaves a
// computing thread behind.
bool streamFrames(const RenderArgs& args, unsigned threads, const WriteBytes& write, Progress& progress,
                  const std::atomic<bool>& stop, RenderReport& report)
{
    const std::uint64_t total = std::min(args.frames, kMaxRenderFrames);
    const auto header = wavHeader(total);
    if (!write(header.data(), header.size(), report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return false;
    }

    const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* samples) {
        computeRenderChunk(args, chunk, samples);
    };
    const ChunkConsume consume = [&](std::uint64_t chunk, const std::int16_t* samples) {
        const std::uint32_t frames = renderChunkFrames(total, chunk);
        if (!write(samples, std::size_t{frames} * kWavFrameBytes, report.message)) {
            report.outcome = RenderOutcome::WriteFailed;
            return false;
        }
        progressUpdate(progress, chunk * kChunkFrames + frames, total);
        return true;
    };
    try {
        if (runChunkPipeline(renderPipelineShape(total, threads), compute, consume, stop))
            return true;
    } catch (const std::exception& e) {
        // No memory for the chunks, or no thread to be had.
        report.message = std::string("cannot render: ") + e.what();
        report.outcome = RenderOutcome::WriteFailed;
        return false;
    }
    if (report.outcome != RenderOutcome::WriteFailed)
        report.outcome = RenderOutcome::Interrupted;
    return false;
}

// The render streamed to standard output, which must not be a terminal. A render that
// stops early leaves its reader a cut-off stream: what a pipe cannot take back.
RenderReport renderToStandardOutput(const RenderArgs& args, unsigned threads, Progress& progress,
                                    const std::atomic<bool>& stop)
{
    RenderReport report;
    report.message = standardOutputRefusal();
    if (!report.message.empty()) {
        report.outcome = RenderOutcome::BadTarget;
        return report;
    }
    stdoutBinary();
    if (!streamFrames(args, threads, writeStandardOutput, progress, stop, report)) {
        if (report.outcome == RenderOutcome::Interrupted)
            report.message = "interrupted; standard output holds only the start of the render";
        return report;
    }
    report.outcome = RenderOutcome::Done;
    return report;
}

// The render into a file, which replaces the old one (kept as it was if anything fails).
RenderReport renderToFile(const RenderArgs& args, unsigned threads, Progress& progress, const std::atomic<bool>& stop)
{
    RenderReport report;
    std::filesystem::path target;
    if (!followLinks(pathFromArgument(args.output), target, report.message) ||
        checkTarget(target, report.message) != TargetCheck::Ok) {
        report.outcome = RenderOutcome::BadTarget;
        return report;
    }
    ReplacementFile file;
    if (!beginReplacement(file, target, report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return report;
    }
    const WriteBytes write = [&file](const void* bytes, std::size_t count, std::string& message) {
        return writeReplacement(file, bytes, count, message);
    };
    if (!streamFrames(args, threads, write, progress, stop, report)) {
        abandonReplacement(file);
        if (report.outcome == RenderOutcome::Interrupted)
            report.message = "interrupted; " + singleQuoted(args.output) + " was not written";
        return report;
    }
    if (!commitReplacement(file, report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return report;
    }
    report.outcome = RenderOutcome::Done;
    return report;
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
    if (args.output == kStandardOutputName)
        return renderToStandardOutput(args, threads, progress, stop);
    return renderToFile(args, threads, progress, stop);
}

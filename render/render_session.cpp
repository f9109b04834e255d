#include "render/render_session.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "render/parallel_synth.h"
#include "render/replace_file.h"
#include "render/utf8_args.h"
#include "render/wav_writer.h"
#include "sound/block_synth.h"

namespace {

// Blocks each core computes per chunk: large enough that starting threads costs
// nothing next to the sines, small enough that two chunks stay a few megabytes.
constexpr std::uint32_t kBlocksPerThread = 8;

void joinIfRunning(std::thread& t)
{
    if (t.joinable())
        t.join();
}

// Writes the header and every frame into `file`, the cores computing one chunk ahead of
// the writes. Returns false with `report` filled in when it stops early; never leaves
// a computing thread behind.
bool streamFrames(const RenderArgs& args, unsigned threads, ReplacementFile& file, Progress& progress,
                  const std::atomic<bool>& stop, RenderReport& report)
{
    const std::uint64_t total = std::min(args.frames, kMaxRenderFrames);
    const auto header = wavHeader(total);
    if (!writeReplacement(file, header.data(), header.size(), report.message)) {
        report.outcome = RenderOutcome::WriteFailed;
        return false;
    }

    // Two chunks: the cores compute the next while this thread writes the last.
    threads = std::max(threads, 1u);
    const std::uint64_t chunkFrames = std::uint64_t{threads} * kBlocksPerThread * kBlockFrames;
    std::vector<std::int16_t> chunks[2];
    for (auto& chunk : chunks)
        chunk.resize(static_cast<std::size_t>(2 * std::min(chunkFrames, total)));
    auto framesAt = [&](std::uint64_t start) { return static_cast<std::uint32_t>(std::min(chunkFrames, total - start)); };
    auto compute = [&](int which, std::uint64_t start) {
        return std::thread(synthesizeSessionFrames, chunks[which].data(), static_cast<std::uint32_t>(start),
                           framesAt(start), args.frequency, args.sound, threads);
    };

    std::thread computing = compute(0, 0);
    // Whatever way this function is left, the thread computing ahead is waited for.
    struct Joiner {
        std::thread& t;
        ~Joiner() { joinIfRunning(t); }
    } joiner{computing};

    int current = 0;
    for (std::uint64_t start = 0; start < total; start += framesAt(start), current ^= 1) {
        joinIfRunning(computing);
        const std::uint32_t frames = framesAt(start);
        if (start + frames < total)
            computing = compute(current ^ 1, start + frames);
        if (stop.load()) {
            report.message = "interrupted; '" + args.output + "' was not written";
            report.outcome = RenderOutcome::Interrupted;
            return false;
        }
        std::int16_t* samples = chunks[current].data();
        samplesToLittleEndian(samples, 2 * std::size_t{frames});
        if (!writeReplacement(file, samples, std::size_t{frames} * kWavFrameBytes, report.message)) {
            report.outcome = RenderOutcome::WriteFailed;
            return false;
        }
        progressUpdate(progress, start + frames, total);
    }
    return true;
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

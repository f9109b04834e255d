#pragma once
// Renders a session's sound into a WAV file: the frames a session streams from its
// start, computed on several cores while the file is written, in bounded chunks.
#include <atomic>
#include <string>

#include "render/chunk_pipeline.h"
#include "render/progress.h"
#include "render/render_args.h"

#include <cstdint>

#include "sound/block_synth.h"

// The chunks a render is cut into: large enough that handing one over costs nothing
// next to its sines and its write, small enough that the ring stays a few megabytes
// and the first write starts within a few milliseconds.
constexpr std::uint64_t kRenderChunkFrames = 4 * std::uint64_t{kBlockFrames};
// Chunks in the ring per computing thread: room for each to run ahead of a write
// that stalls for a moment.
constexpr unsigned kRenderSlotsPerThread = 4;

enum class RenderOutcome {
    Done,
    BadTarget,   // the output path cannot be a file (no folder, a folder, a device, a
                 // loop of links), or standard output is a terminal
    WriteFailed, // the file could not be created, written or put in place
    Interrupted, // stopped from outside; nothing written
};

struct RenderReport {
    RenderOutcome outcome = RenderOutcome::Done;
    std::string message; // for anything but Done: one line saying what went wrong
};

// Writes `args.frames` frames to `args.output`, replacing it only once complete, or
// to standard output for "-". `threads` is how many cores compute; `stop`, when raised,
// ends the render early with no file written (standard output keeps what it took).
RenderReport renderSession(const RenderArgs& args, unsigned threads, Progress& progress,
                           const std::atomic<bool>& stop);

// The pieces of a render, for the benchmark that times computing and writing apart:
// the shape of the pipeline for `frames` frames on `threads` computing threads, how
// many frames chunk `chunk` holds, and the computing of one chunk (in file byte order).
ChunkPipelineShape renderPipelineShape(std::uint64_t frames, unsigned threads);
std::uint32_t renderChunkFrames(std::uint64_t frames, std::uint64_t chunk);
void computeRenderChunk(const RenderArgs& args, std::uint64_t chunk, std::int16_t* samples);

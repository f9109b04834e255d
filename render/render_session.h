#pragma once
// Renders a session's sound into a WAV file: the frames a session streams from its
// start, computed on several cores while the file is written, in bounded chunks.
#include <atomic>
#include <string>

#include "render/progress.h"
#include "render/render_args.h"

enum class RenderOutcome {
    Done,
    BadTarget,   // the output path cannot be a file (no folder, a folder, a device)
    WriteFailed, // the file could not be created, written or put in place
    Interrupted, // stopped from outside; nothing written
};

struct RenderReport {
    RenderOutcome outcome = RenderOutcome::Done;
    std::string message; // for anything but Done: one line saying what went wrong
};

// Writes `args.frames` frames to `args.output`, replacing it only once complete.
// `threads` is how many cores compute; `stop`, when raised, ends the render early
// with nothing written.
RenderReport renderSession(const RenderArgs& args, unsigned threads, Progress& progress,
                           const std::atomic<bool>& stop);

#pragma once
// Any stretch of a session's frames, computed on its own: every block is a pure function
// of its frame index and the noise generator's state there, and the generator can jump
// ahead, so a stretch starts its own generator at its first frame and comes out the same
// as the session computed block by block from its start. The renderer computes its
// chunks this way, several at once (chunk_pipeline).
#include <cstdint>

#include "settings/settings.h"

// Cores worth using for rendering: what the machine reports, at least 1, at most 16.
unsigned renderThreadCount();

// Computes frames [firstFrame, firstFrame + frameCount) of a session that started at
// frame 0 with a freshly started generator, into `out` (2 samples per frame), in blocks
// of 12288 counted from frame 0. `firstFrame` must be a multiple of 12288.
void synthesizeSessionFrames(std::int16_t* out, std::uint32_t firstFrame, std::uint32_t frameCount,
                             std::uint32_t frequency, SoundMode mode);

#pragma once
// Standard output as where a render goes (--output -): the WAV file streamed to a pipe
// or to a file the shell opened. Its length is known before the first frame, so the
// header is exact and nothing is ever sought back to.
#include <cstddef>
#include <string>

// The --output value that means standard output.
constexpr const char* kStandardOutputName = "-";

// Why standard output cannot take the render, or empty when it can: a terminal would
// only show garbage.
std::string standardOutputRefusal();

// Writes all of `bytes`; false with `message` on an error, a reader that has gone
// among them.
bool writeStandardOutput(const void* bytes, std::size_t count, std::string& message);

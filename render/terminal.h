#pragma once
// The standard streams as the system has them: whether each is a terminal, how wide
// stderr's terminal is, and standard output as a channel for bytes.
#include <cstddef>

// Whether stderr is a terminal (worth a progress bar) rather than a file or a pipe.
bool stderrIsTerminal();

// The columns of stderr's terminal, or 0 when it has no width to tell.
unsigned stderrColumns();

// Whether standard output is a terminal (a console on Windows), where binary bytes
// would only garble the screen.
bool stdoutIsTerminal();

// Makes standard output pass bytes unchanged (Windows would turn \n into \r\n).
void stdoutBinary();

// Writes up to `count` bytes to standard output at once: how many were written, or -1
// with errno set (EPIPE once its reader has gone).
long long writeStdoutSome(const void* bytes, std::size_t count);

#include "render/terminal.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned stderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

// A console, not merely a character device: NUL is one too, and takes bytes fine.
bool stdoutIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Nothing goes through the C library's stdout on this path, but whatever might is kept
// from turning \n into \r\n as well.
void stdoutBinary() { _setmode(_fileno(stdout), _O_BINARY); }

// WriteFile itself rather than _write, whose errno for a pipe whose reader has gone is
// EINVAL. That reader's going shows as any of three errors (Wine gives the last).
long long writeStdoutSome(const void* bytes, std::size_t count)
{
    const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, piece, &written, nullptr))
        return written;
    switch (GetLastError()) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: errno = EPIPE; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO;
    }
    return -1;
}

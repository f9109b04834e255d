#include "render/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool stderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

unsigned stderrColumns()
{
    struct winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void stdoutBinary() {}

long long writeStdoutSome(const void* bytes, std::size_t count)
{
    return ::write(STDOUT_FILENO, bytes, count);
}

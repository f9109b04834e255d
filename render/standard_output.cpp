#include "render/standard_output.h"

#include <cerrno>
#include <cstring>

#include "render/terminal.h"

std::string standardOutputRefusal()
{
    if (!stdoutIsTerminal())
        return {};
    return "--output - writes the WAV file to standard output, which is a terminal here; "
           "send it to a pipe or a file (--output - | player, --output - > session.wav) "
           "or give --output FILE";
}

bool writeStandardOutput(const void* bytes, std::size_t count, std::string& message)
{
    const char* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const long long written = writeStdoutSome(at, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int err = written < 0 ? errno : ENOSPC;
            message = err == EPIPE ? "standard output was closed by its reader before the render was complete"
                                   : std::string("cannot write to standard output: ") + std::strerror(err);
            return false;
        }
        at += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

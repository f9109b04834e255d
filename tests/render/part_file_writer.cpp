// part_file_writer TARGET: begins replacing TARGET through a named part file (as the
// renderer does where the file system has no unnamed files), writes a little, prints
// the part file's path and waits to be killed: a real part file behind a live process,
// then a dead one, for render_e2e.py.
#include <chrono>
#include <cstdio>
#include <thread>

#include "render/replace_file.h"
#include "render/utf8_args.h"

int main(int argc, char** argv)
{
    ReplacementFile file;
    std::string message = "usage: part_file_writer TARGET";
    if (argc != 2 || !beginReplacement(file, pathFromArgument(argv[1]), message, TemporaryKind::Named) ||
        !writeReplacement(file, "RIFF", 4, message)) {
        std::fprintf(stderr, "part_file_writer: %s\n", message.c_str());
        return 2;
    }
    std::printf("%s\n", pathForMessage(file.temporary).c_str());
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

// Which part files a render removes where POSIX processes are involved. That a render
// removes a dead writer's part file, and that an unnamed file shows no name while a
// render writes it, render_e2e.py sees from outside.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "render/replace_file.h"

namespace fs = std::filesystem;

namespace {

// Only the part files of this target whose writer has ended are removed, before the
// render begins: never one of a live process (whoever owns it), of another target, or
// of a name that is not exactly a part file's; never for a process id that is none
// (0) or that kill() would take for a process group.
TEST(ReplaceFilePosix, OnlyPartFilesOfDeadWritersForThisTargetAreRemoved)
{
    const fs::path folder = fs::temp_directory_path() / ("zarvelin-replace-posix." + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / "session.wav";
    const pid_t child = fork(); // a process that has run and ended, and been reaped
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const std::uint64_t dead = static_cast<std::uint64_t>(child);
    const std::string d = "." + std::to_string(dead);
    const auto part = [&target](std::uint64_t pid, std::uint64_t tag) {
        return partFilePath(target, pid, tag).filename().string();
    };
    const struct {
        std::string name;
        bool removed;
    } files[] = {
        {part(dead, 0x123), true}, {".session.wav" + d + ".fedcba987654.part", true}, // TAG: twelve hex digits
        {part(currentProcessId(), 0x123), false}, {part(static_cast<std::uint64_t>(getppid()), 0x123), false},
        {part(1, 0x123), false}, {part(0, 0x123), false}, {part(4294967288, 0x123), false},
        {partFilePath(folder / "other.wav", dead, 0x123).filename().string(), false},
        {".session.wav" + d + ".123.part", false},          // not a tag
        {".session.wav" + d + ".00000000012G.part", false}, // not hex
        {".session.wav" + d + ".000000000123.tmp", false},  // not a part file
        {"session.wav" + d + ".000000000123.part", false},  // not hidden
        {".session.wav.x" + d.substr(1) + ".000000000123.part", false}, // not a process id
        {".session.wav.wav" + d + ".000000000123.part", false},         // a longer target's name
        {"session.wav", false},
    };
    std::set<std::string> kept;
    for (const auto& f : files) {
        std::ofstream(folder / f.name) << "debris";
        if (!f.removed)
            kept.insert(f.name);
    }
    ReplacementFile file;
    std::string message;
    ASSERT_TRUE(beginReplacement(file, target, message, TemporaryKind::Named)) << message;
    std::set<std::string> now;
    for (const auto& e : fs::directory_iterator(folder))
        now.insert(e.path().filename().string());
    now.erase(file.temporary.filename().string());
    EXPECT_EQ(now, kept);
    abandonReplacement(file);
    EXPECT_EQ(removeStalePartFiles(target), 0u) << "nothing stale left for a second look";
    fs::remove_all(folder);
}

} // namespace

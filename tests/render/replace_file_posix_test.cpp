// The temporary file where POSIX processes and Linux's unnamed files are involved:
// which part files a render removes, and that an unnamed file shows no name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "render/replace_file.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path;
    explicit Folder(const char* name)
    {
        path = fs::temp_directory_path() / (std::string("zarvelin-replace-posix-") + name);
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::set<std::string> names() const
    {
        std::set<std::string> all;
        for (const auto& e : fs::directory_iterator(path))
            all.insert(e.path().filename().string());
        return all;
    }
};

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// The id of a process that has run and ended (and been reaped).
std::uint64_t deadProcessId()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<std::uint64_t>(child);
}

bool folderHasUnnamedFiles(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

TEST(ReplaceFilePosix, OnlyPartFilesOfDeadWritersForThisTargetAreRemoved)
{
    Folder folder("stale");
    const fs::path target = folder.path / "session.wav";
    put(target, "the previous render");
    const std::uint64_t dead = deadProcessId();
    ASSERT_TRUE(processIsGone(dead));
    const std::uint64_t self = currentProcessId(), parent = static_cast<std::uint64_t>(getppid());
    const std::string deadName = "." + std::to_string(dead);
    const struct {
        std::string name;
        bool removed;
    } files[] = {
        {partFilePath(target, dead, 0x123).filename().string(), true},
        {partFilePath(target, dead, 0xfedcba987654).filename().string(), true},
        {partFilePath(target, self, 0x123).filename().string(), false},   // a render still running
        {partFilePath(target, parent, 0x123).filename().string(), false}, // another live process
        {partFilePath(folder.path / "other.wav", dead, 0x123).filename().string(), false}, // another target's
        {".session.wav" + deadName + ".123.part", false},                 // not a tag
        {".session.wav" + deadName + ".00000000012G.part", false},       // not hex
        {".session.wav" + deadName + ".000000000123.tmp", false},        // not a part file
        {"session.wav" + deadName + ".000000000123.part", false},        // not hidden
        {".session.wav.x" + deadName.substr(1) + ".000000000123.part", false}, // not a process id
        {".session.wav.wav" + deadName + ".000000000123.part", false},   // a longer target's name
        {"session.wav", false},
    };
    for (const auto& f : files)
        put(folder.path / f.name, "debris");

    std::set<std::string> kept;
    std::size_t removable = 0;
    for (const auto& f : files) {
        if (f.removed)
            ++removable;
        else
            kept.insert(f.name);
    }
    // A render beginning on the part-file path clears the stale ones before it starts.
    ReplacementFile file;
    std::string message;
    ASSERT_TRUE(beginReplacement(file, target, message, TemporaryKind::Named)) << message;
    std::set<std::string> now = folder.names();
    now.erase(file.temporary.filename().string());
    EXPECT_EQ(now, kept);
    ASSERT_TRUE(writeReplacement(file, "new", 3, message));
    ASSERT_TRUE(commitReplacement(file, message)) << message;
    EXPECT_EQ(folder.names(), kept);
    EXPECT_EQ(removable, 2u);
    // Nothing stale is left for a second look.
    EXPECT_EQ(removeStalePartFiles(target), 0u);
}

TEST(ReplaceFilePosix, TheUnnamedPathClearsStalePartFilesToo)
{
    Folder folder("stale-unnamed");
    const fs::path target = folder.path / "session.wav";
    const fs::path stale = partFilePath(target, deadProcessId(), 7);
    put(stale, "debris");
    ReplacementFile file;
    std::string message;
    ASSERT_TRUE(beginReplacement(file, target, message, TemporaryKind::Unnamed)) << message;
    EXPECT_FALSE(fs::exists(stale));
    abandonReplacement(file);
}

TEST(ReplaceFilePosix, AnUnnamedFileShowsNoNameUntilCommitted)
{
    Folder folder("unnamed");
    if (!folderHasUnnamedFiles(folder.path))
        GTEST_SKIP() << folder.path << " has no unnamed files (O_TMPFILE) on this system";
    const fs::path target = folder.path / "session.wav";
    put(target, "old");
    for (bool commit : {true, false}) {
        ReplacementFile file;
        std::string message;
        ASSERT_TRUE(beginReplacement(file, target, message, TemporaryKind::Unnamed)) << message;
        EXPECT_TRUE(file.temporary.empty());
        const std::string text = commit ? "new bytes" : "abandoned";
        ASSERT_TRUE(writeReplacement(file, text.data(), text.size(), message)) << message;
        EXPECT_EQ(folder.names(), std::set<std::string>{"session.wav"}) << "only the target while writing";
        if (commit) {
            ASSERT_TRUE(commitReplacement(file, message)) << message;
        } else {
            abandonReplacement(file);
        }
        EXPECT_EQ(folder.names(), std::set<std::string>{"session.wav"});
        std::ifstream in(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new bytes")
            << (commit ? "committed" : "the abandoned one changed nothing");
    }
}

TEST(ReplaceFilePosix, WhetherAProcessIsGone)
{
    EXPECT_FALSE(processIsGone(currentProcessId()));
    EXPECT_FALSE(processIsGone(1)) << "a live process, whoever owns it";
    EXPECT_TRUE(processIsGone(deadProcessId()));
    EXPECT_FALSE(processIsGone(0)) << "not a process id: never a reason to remove a file";
}

} // namespace

// The replacement file's own rules on both platforms; what the renderer makes of them
// (targets refused, renders ended from outside, part files of dead writers, names
// outside ASCII) is render_e2e.py's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "render/replace_file.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, this process's own, removed afterwards.
struct Folder {
    fs::path path = fs::temp_directory_path() / ("zarvelin-replace." + std::to_string(currentProcessId()));
    Folder()
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path), {})); }
};

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Either kind of temporary, to a new target or over an old one: the target is what it
// was until the commit and then exactly what was written; abandoned, it stays what it
// was. Nothing else is left either way. A named temporary carries this process's id,
// so no render removes it while this process lives.
TEST(ReplaceFile, TheTargetChangesOnlyOnCommit)
{
    const std::string old = "old contents that are longer than the new ones";
    for (TemporaryKind kind : {TemporaryKind::Unnamed, TemporaryKind::Named})
        for (bool existing : {false, true})
            for (bool commit : {false, true}) {
                SCOPED_TRACE(testing::Message() << "named " << (kind == TemporaryKind::Named) << ", existing "
                                                << existing << ", commit " << commit);
                Folder folder;
                const fs::path target = folder.path / "session.wav";
                if (existing)
                    std::ofstream(target, std::ios::binary) << old;
                const std::string was = existing ? old : "(none)";
                const auto now = [&target] { return fs::exists(target) ? contents(target) : "(none)"; };
                ReplacementFile file;
                std::string message;
                ASSERT_TRUE(beginReplacement(file, target, message, kind)) << message;
                ASSERT_TRUE(writeReplacement(file, "new ", 4, message)) << message;
                if (kind == TemporaryKind::Named) {
                    const std::string mine = ".session.wav." + std::to_string(currentProcessId()) + ".";
                    EXPECT_EQ(file.temporary.filename().string().rfind(mine, 0), 0u) << file.temporary;
                    EXPECT_EQ(removeStalePartFiles(target), 0u);
                    EXPECT_TRUE(fs::exists(file.temporary));
                }
                EXPECT_EQ(now(), was);
                ASSERT_TRUE(writeReplacement(file, "bytes", 5, message)) << message;
                if (commit) {
                    ASSERT_TRUE(commitReplacement(file, message)) << message;
                } else {
                    abandonReplacement(file);
                }
                EXPECT_EQ(now(), commit ? "new bytes" : was);
                EXPECT_EQ(folder.entries(), commit || existing ? 1u : 0u);
            }
}

// A temporary that cannot be made leaves nothing, and says why.
TEST(ReplaceFile, BeginFailsCleanlyWhenTheFolderIsGone)
{
    Folder folder;
    ReplacementFile file;
    std::string message;
    EXPECT_FALSE(beginReplacement(file, folder.path / "nowhere" / "x.wav", message));
    EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
    EXPECT_TRUE(file.temporary.empty());
    EXPECT_EQ(folder.entries(), 0u);
}

} // namespace

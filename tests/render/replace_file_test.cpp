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

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Either kind of temporary, to a new target or over an old one: the target is what it
// was until the commit and then exactly what was written; abandoned, it stays what it
// was. Nothing else is left either way. A named temporary carries this process's id,
// so no render removes it while this process lives. One that cannot be made leaves
// nothing, and says why.
TEST(ReplaceFile, TheTargetChangesOnlyOnCommit)
{
    const fs::path folder = fs::temp_directory_path() / ("zarvelin-replace." + std::to_string(currentProcessId()));
    const fs::path target = folder / "session.wav";
    const auto now = [&target] { return fs::exists(target) ? contents(target) : "(none)"; };
    const auto entries = [&folder] { return std::distance(fs::directory_iterator(folder), {}); };
    const std::string old = "old contents that are longer than the new ones";
    for (TemporaryKind kind : {TemporaryKind::Unnamed, TemporaryKind::Named})
        for (bool existing : {false, true})
            for (bool commit : {false, true}) {
                SCOPED_TRACE(testing::Message() << "named " << (kind == TemporaryKind::Named) << ", existing "
                                                << existing << ", commit " << commit);
                fs::remove_all(folder);
                fs::create_directories(folder);
                if (existing)
                    std::ofstream(target, std::ios::binary) << old;
                const std::string was = existing ? old : "(none)";
                ReplacementFile file, nowhere;
                std::string message;
                EXPECT_FALSE(beginReplacement(nowhere, folder / "nowhere" / "x.wav", message, kind));
                EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
                EXPECT_TRUE(nowhere.temporary.empty());
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
                EXPECT_EQ(entries(), commit || existing ? 1 : 0);
            }
    fs::remove_all(folder);
}

} // namespace

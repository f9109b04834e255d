#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "render/replace_file.h"
#include "render/utf8_args.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards.
struct Folder {
    fs::path path;
    explicit Folder(const char* name)
    {
        path = fs::temp_directory_path() / (std::string("zarvelin-replace-") + name);
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

void put(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

TEST(ReplaceFile, CommitCreatesOrReplacesTheTarget)
{
    for (bool existing : {false, true}) {
        Folder folder("commit");
        const fs::path target = folder.path / "session.wav";
        if (existing)
            put(target, "old contents that are longer than the new ones");
        ReplacementFile file;
        std::string message;
        ASSERT_TRUE(beginReplacement(file, target, message)) << message;
        ASSERT_TRUE(writeReplacement(file, "new ", 4, message)) << message;
        // Until the commit, the target is what it was.
        EXPECT_EQ(fs::exists(target), existing);
        ASSERT_TRUE(writeReplacement(file, "bytes", 5, message)) << message;
        ASSERT_TRUE(commitReplacement(file, message)) << message;
        EXPECT_EQ(contents(target), "new bytes") << "existing " << existing;
        EXPECT_EQ(folder.entries(), 1u) << "no temporary file left beside the target";
    }
}

TEST(ReplaceFile, AbandonLeavesTheTargetAsItWas)
{
    for (bool existing : {false, true}) {
        Folder folder("abandon");
        const fs::path target = folder.path / "session.wav";
        if (existing)
            put(target, "keep me");
        ReplacementFile file;
        std::string message;
        ASSERT_TRUE(beginReplacement(file, target, message)) << message;
        ASSERT_TRUE(writeReplacement(file, "half", 4, message));
        abandonReplacement(file);
        EXPECT_EQ(fs::exists(target), existing);
        if (existing) {
            EXPECT_EQ(contents(target), "keep me");
        }
        EXPECT_EQ(folder.entries(), existing ? 1u : 0u);
    }
}

TEST(ReplaceFile, TargetChecks)
{
    Folder folder("check");
    put(folder.path / "old.wav", "x");
    fs::create_directories(folder.path / "sub");
    const struct {
        fs::path target;
        TargetCheck expected;
        const char* says;
    } cases[] = {
        {folder.path / "new.wav", TargetCheck::Ok, ""},
        {folder.path / "old.wav", TargetCheck::Ok, ""},
        {folder.path / "missing" / "new.wav", TargetCheck::NoFolder, "does not exist"},
        {folder.path / "old.wav" / "new.wav", TargetCheck::NoFolder, "does not exist"},
        {folder.path / "sub", TargetCheck::IsFolder, "is a folder"},
        {folder.path / "sub" / "", TargetCheck::IsFolder, "is a folder"},
    };
    for (const auto& c : cases) {
        std::string message;
        EXPECT_EQ(checkTarget(c.target, message), c.expected) << c.target;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

TEST(ReplaceFile, BeginFailsCleanlyWhenTheFolderIsGone)
{
    Folder folder("gone");
    ReplacementFile file;
    std::string message;
    EXPECT_FALSE(beginReplacement(file, folder.path / "nowhere" / "x.wav", message));
    EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
    EXPECT_TRUE(file.temporary.empty());
    EXPECT_EQ(folder.entries(), 0u);
}

TEST(ReplaceFile, NamesOutsideAsciiSurvive)
{
    // A Russian user's file names, as UTF-8 on the command line.
    for (const char* name : {"\xD1\x81\xD0\xB5\xD0\xB0\xD0\xBD\xD1\x81.wav", // "сеанс.wav"
                             "caf\xC3\xA9 7,80.wav"}) {
        Folder folder("names");
        const fs::path target = folder.path / pathFromArgument(name);
        std::string message;
        ASSERT_EQ(checkTarget(target, message), TargetCheck::Ok) << message;
        ReplacementFile file;
        ASSERT_TRUE(beginReplacement(file, target, message)) << message;
        ASSERT_TRUE(writeReplacement(file, "x", 1, message));
        ASSERT_TRUE(commitReplacement(file, message)) << message;
        ASSERT_EQ(folder.entries(), 1u);
        EXPECT_EQ(pathForMessage(fs::directory_iterator(folder.path)->path().filename()), name);
    }
}

} // namespace

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

constexpr TemporaryKind kKinds[] = {TemporaryKind::Unnamed, TemporaryKind::Named};

TEST(ReplaceFile, CommitCreatesOrReplacesTheTarget)
{
    for (TemporaryKind kind : kKinds)
    for (bool existing : {false, true}) {
        Folder folder("commit");
        const fs::path target = folder.path / "session.wav";
        if (existing)
            put(target, "old contents that are longer than the new ones");
        ReplacementFile file;
        std::string message;
        ASSERT_TRUE(beginReplacement(file, target, message, kind)) << message;
        ASSERT_TRUE(writeReplacement(file, "new ", 4, message)) << message;
        // Until the commit, the target is what it was.
        EXPECT_EQ(fs::exists(target), existing);
        ASSERT_TRUE(writeReplacement(file, "bytes", 5, message)) << message;
        ASSERT_TRUE(commitReplacement(file, message)) << message;
        EXPECT_EQ(contents(target), "new bytes") << "existing " << existing << " kind " << int(kind);
        EXPECT_EQ(folder.entries(), 1u) << "no temporary file left beside the target";
    }
}

TEST(ReplaceFile, AbandonLeavesTheTargetAsItWas)
{
    for (TemporaryKind kind : kKinds)
    for (bool existing : {false, true}) {
        Folder folder("abandon");
        const fs::path target = folder.path / "session.wav";
        if (existing)
            put(target, "keep me");
        ReplacementFile file;
        std::string message;
        ASSERT_TRUE(beginReplacement(file, target, message, kind)) << message;
        ASSERT_TRUE(writeReplacement(file, "half", 4, message));
        abandonReplacement(file);
        EXPECT_EQ(fs::exists(target), existing);
        if (existing) {
            EXPECT_EQ(contents(target), "keep me");
        }
        EXPECT_EQ(folder.entries(), existing ? 1u : 0u) << "kind " << int(kind);
    }
}

TEST(ReplaceFile, PartFileNamesCarryTheWriterAndAreFresh)
{
    const fs::path folder = fs::path("out");
    const struct {
        fs::path target;
        std::uint64_t pid, tag;
        const char* name;
    } cases[] = {
        {folder / "session.wav", 4242, 0xABCDEF, ".session.wav.4242.000000abcdef.part"},
        {folder / "my.session 7,80.wav", 1, 0xFFFFFFFFFFFFFFFFull, ".my.session 7,80.wav.1.ffffffffffff.part"},
        {fs::path("bare.wav"), 4194304, 0, ".bare.wav.4194304.000000000000.part"},
    };
    for (const auto& c : cases) {
        const fs::path part = partFilePath(c.target, c.pid, c.tag);
        EXPECT_EQ(part.filename().string(), c.name);
        EXPECT_EQ(part.parent_path(), folderOf(c.target)) << "beside the target, so the rename stays on its file system";
    }
    // Two part files of one process for one target never share a name.
    EXPECT_NE(newPartFilePath(folder / "a.wav"), newPartFilePath(folder / "a.wav"));
    EXPECT_EQ(newPartFilePath(folder / "a.wav").filename().string().rfind(
                  ".a.wav." + std::to_string(currentProcessId()) + ".", 0),
              0u);
}

TEST(ReplaceFile, ANamedTemporaryIsAPartFileOfThisProcess)
{
    Folder folder("named");
    const fs::path target = folder.path / "session.wav";
    ReplacementFile file;
    std::string message;
    ASSERT_TRUE(beginReplacement(file, target, message, TemporaryKind::Named)) << message;
    ASSERT_EQ(folder.entries(), 1u);
    const std::string name = fs::directory_iterator(folder.path)->path().filename().string();
    EXPECT_EQ(name.rfind(".session.wav." + std::to_string(currentProcessId()) + ".", 0), 0u) << name;
    EXPECT_EQ(file.temporary.filename().string(), name);
    // This process is alive: a second render to the same target leaves its file be.
    EXPECT_EQ(removeStalePartFiles(target), 0u);
    EXPECT_EQ(folder.entries(), 1u);
    abandonReplacement(file);
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

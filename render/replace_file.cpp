#include "render/replace_file.h"

#include <chrono>
#include <random>
#include <string_view>
#include <system_error>

#include "render/single_quoted.h"
#include "render/utf8_args.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartSuffix = ".part";
constexpr int kTagDigits = 12;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The writer's process id when `name` is a part file for a target called `targetName`
// (".NAME.PID.TAG.part"); false for any other name.
bool partFileWriter(const std::string& name, const std::string& targetName, std::uint64_t& pid)
{
    std::string prefix(1, '.');
    prefix += targetName;
    prefix += '.';
    if (name.size() <= prefix.size() + kTagDigits + 1 + kPartSuffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        !std::string_view(name).ends_with(kPartSuffix))
        return false;
    std::string_view middle(name);
    middle = middle.substr(prefix.size(), middle.size() - prefix.size() - kPartSuffix.size()); // "PID.TAG"
    const std::size_t dot = middle.size() - kTagDigits - 1;
    if (middle[dot] != '.')
        return false;
    for (char c : middle.substr(dot + 1))
        if (!isHexDigit(c))
            return false;
    const std::string_view digits = middle.substr(0, dot);
    if (digits.empty() || digits.size() > 19)
        return false;
    pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

} // namespace

fs::path folderOf(const fs::path& target)
{
    const fs::path parent = target.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

TargetCheck checkTarget(const fs::path& target, std::string& message)
{
    std::error_code ec;
    const fs::path folder = folderOf(target);
    if (target.filename().empty() || fs::is_directory(target, ec)) {
        message = "--output " + singleQuoted(pathForMessage(target)) +
                  " is a folder; give the path of a file, such as session.wav";
        return TargetCheck::IsFolder;
    }
    if (!fs::is_directory(folder, ec)) {
        message = "the folder " + singleQuoted(pathForMessage(folder)) +
                  " of --output does not exist; give a file in an existing folder";
        return TargetCheck::NoFolder;
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        message = "--output " + singleQuoted(pathForMessage(target)) +
                  " exists and is not a regular file; give a new file or a WAV file to replace";
        return TargetCheck::NotAFile;
    }
    return TargetCheck::Ok;
}

fs::path partFilePath(const fs::path& target, std::uint64_t pid, std::uint64_t tag)
{
    static const char hex[] = "0123456789abcdef";
    std::string suffix(1, '.');
    suffix += std::to_string(pid);
    suffix += '.';
    for (int i = kTagDigits - 1; i >= 0; --i)
        suffix += hex[(tag >> (4 * i)) & 0xF];
    suffix += kPartSuffix;
    fs::path name(".");
    name += target.filename(); // appended as a path, so its characters survive as they are
    name += suffix;
    return folderOf(target) / name;
}

std::size_t removeStalePartFiles(const fs::path& target)
{
    const std::string targetName = pathForMessage(target.filename());
    std::size_t removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        std::uint64_t pid = 0;
        if (!partFileWriter(pathForMessage(it->path().filename()), targetName, pid) || !processIsGone(pid))
            continue;
        std::error_code removeError;
        if (fs::remove(it->path(), removeError))
            ++removed;
    }
    return removed;
}

fs::path newPartFilePath(const fs::path& target)
{
    // A random tag as well as the process id, so two renders to the same target from
    // one process never collide either.
    static std::mt19937_64 random(std::random_device{}() ^
                                  static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return partFilePath(target, currentProcessId(), random());
}

#include "render/replace_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>

#include "render/utf8_args.h"

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& p)
{
    std::string q(1, '\'');
    q += pathForMessage(p);
    q += '\'';
    return q;
}

std::string reason(const std::error_code& ec) { return ec ? ec.message() : std::string("unknown error"); }

fs::path folderOf(const fs::path& target)
{
    const fs::path parent = target.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// A name no one else is likely to be using in that folder: hidden, marked as partial,
// and carrying a random part so two renders to the same target do not collide.
fs::path temporaryName(const fs::path& target)
{
    static std::mt19937_64 random(std::random_device{}() ^
                                  static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    static const char hex[] = "0123456789abcdef";
    std::string suffix(1, '.');
    std::uint64_t bits = random();
    for (int i = 0; i < 12; ++i, bits >>= 4)
        suffix += hex[bits & 0xF];
    suffix += ".part";
    fs::path name(".");
    name += target.filename(); // appended as a path, so its characters survive as they are
    name += suffix;
    return folderOf(target) / name;
}

} // namespace

TargetCheck checkTarget(const fs::path& target, std::string& message)
{
    std::error_code ec;
    const fs::path folder = folderOf(target);
    if (target.filename().empty() || fs::is_directory(target, ec)) {
        message = "--output " + quoted(target) + " is a folder; give the path of a file, such as session.wav";
        return TargetCheck::IsFolder;
    }
    if (!fs::is_directory(folder, ec)) {
        message = "the folder " + quoted(folder) + " of --output does not exist; give a file in an existing folder";
        return TargetCheck::NoFolder;
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        message = "--output " + quoted(target) +
                  " exists and is not a regular file; give a new file or a WAV file to replace";
        return TargetCheck::NotAFile;
    }
    return TargetCheck::Ok;
}

bool beginReplacement(ReplacementFile& file, const fs::path& target, std::string& message)
{
    file.target = target;
    std::error_code ec;
    for (int attempt = 0; attempt < 8; ++attempt) {
        file.temporary = temporaryName(target);
        if (!fs::exists(file.temporary, ec))
            break;
    }
    // Big writes go straight through; the stream's own buffer would only copy them.
    file.stream.rdbuf()->pubsetbuf(nullptr, 0);
    errno = 0;
    file.stream.open(file.temporary, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.stream.is_open()) {
        const int err = errno;
        message = "cannot write in the folder " + quoted(folderOf(target)) + ": " +
                  (err ? std::strerror(err) : "the file could not be created");
        file.temporary.clear();
        return false;
    }
    return true;
}

bool writeReplacement(ReplacementFile& file, const void* bytes, std::size_t count, std::string& message)
{
    errno = 0;
    file.stream.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    if (!file.stream) {
        const int err = errno;
        message = "cannot write " + quoted(file.target) + ": " + (err ? std::strerror(err) : "write error");
        return false;
    }
    return true;
}

bool commitReplacement(ReplacementFile& file, std::string& message)
{
    errno = 0;
    file.stream.flush();
    file.stream.close();
    if (file.stream.fail()) {
        const int err = errno;
        message = "cannot write " + quoted(file.target) + ": " + (err ? std::strerror(err) : "write error");
        abandonReplacement(file);
        return false;
    }
    std::error_code ec;
    fs::rename(file.temporary, file.target, ec);
    if (ec) {
        message = "cannot replace " + quoted(file.target) + ": " + reason(ec);
        abandonReplacement(file);
        return false;
    }
    file.temporary.clear();
    return true;
}

void abandonReplacement(ReplacementFile& file)
{
    if (file.stream.is_open())
        file.stream.close();
    if (!file.temporary.empty()) {
        std::error_code ec;
        fs::remove(file.temporary, ec);
        file.temporary.clear();
    }
}

// The temporary file on POSIX systems: unnamed (O_TMPFILE) where Linux and the file
// system allow it, a named part file otherwise.
#include "render/replace_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "render/single_quoted.h"
#include "render/utf8_args.h"

namespace fs = std::filesystem;

namespace {

std::string cannot(const char* what, const fs::path& path, int err)
{
    return std::string("cannot ") + what + " " + singleQuoted(pathForMessage(path)) + ": " + std::strerror(err);
}

int fdOf(const ReplacementFile& file) { return static_cast<int>(file.handle); }

void closeQuietly(ReplacementFile& file)
{
    if (file.handle >= 0)
        ::close(fdOf(file));
    file.handle = -1;
}

// Opens an unnamed file in `folder`; -1 with errno set when it cannot.
int openUnnamed(const fs::path& folder)
{
#ifdef O_TMPFILE
    return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Whether an O_TMPFILE failure means only that this file system (or kernel) has no
// unnamed files, so a named part file will do.
bool unnamedUnsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

bool openNamed(ReplacementFile& file, std::string& message)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        file.temporary = newPartFilePath(file.target);
        const int fd = ::open(file.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.handle = fd;
            return true;
        }
        if (errno != EEXIST) {
            message = cannot("write in the folder", folderOf(file.target), errno);
            break;
        }
    }
    if (message.empty())
        message = cannot("write in the folder", folderOf(file.target), EEXIST);
    file.temporary.clear();
    return false;
}

// Gives the unnamed file the name `name`: through /proc (what an unprivileged process
// may do), or straight from the descriptor where /proc is missing.
bool linkUnnamed(int fd, const fs::path& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
#ifdef AT_EMPTY_PATH
    if (errno == ENOENT || errno == ENOTDIR) {
        const int procError = errno;
        if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno == ENOENT || errno == EPERM)
            errno = procError;
    }
#endif
    return false;
}

// Gives the new file the target's owner, group and permissions, so a private file stays
// private and a file kept for another user stays theirs. Owner and group go first, as
// changing them clears the set-id bits. An owner this user may not give is left as the
// user's, and the group is tried alone; the permissions must hold, or at least grant
// no one more than the old file did.
bool keepOwnerAndMode(int fd, const fs::path& target, std::string& message)
{
    struct stat old = {};
    if (::stat(target.c_str(), &old) != 0)
        return true; // a new file: 0666 less the umask, as created
    const bool ownerKept = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    [[maybe_unused]] const bool groupKept =
        ownerKept || (errno == EPERM && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0);
    if (::fchmod(fd, old.st_mode & 07777) == 0)
        return true;
    const int err = errno;
    struct stat now = {};
    if (::fstat(fd, &now) == 0 && (now.st_mode & 0777 & ~old.st_mode) == 0)
        return true;
    message = cannot("keep the permissions of", target, err);
    return false;
}

// Names the unnamed file as a part file beside the target (the only way to name it:
// a link never replaces an existing file), ready for the rename.
bool nameUnnamed(ReplacementFile& file, std::string& message)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path name = newPartFilePath(file.target);
        if (linkUnnamed(fdOf(file), name)) {
            file.temporary = name;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    message = cannot("write", file.target, errno);
    return false;
}

} // namespace

bool beginReplacement(ReplacementFile& file, const fs::path& target, std::string& message, TemporaryKind kind)
{
    file = ReplacementFile{};
    file.target = target;
    removeStalePartFiles(target);
    if (kind == TemporaryKind::Unnamed) {
        const int fd = openUnnamed(folderOf(target));
        if (fd >= 0) {
            file.handle = fd;
            return true;
        }
        if (!unnamedUnsupported(errno)) {
            message = cannot("write in the folder", folderOf(target), errno);
            return false;
        }
    }
    return openNamed(file, message);
}

bool writeReplacement(ReplacementFile& file, const void* bytes, std::size_t count, std::string& message)
{
    const char* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(fdOf(file), at, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            message = cannot("write", file.target, written < 0 ? errno : ENOSPC);
            return false;
        }
        at += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool followLinks(const fs::path& given, fs::path& file, std::string& message)
{
    // As many links as Linux itself follows in one path (MAXSYMLINKS).
    constexpr int kMostLinks = 40;
    fs::path at = given;
    for (int link = 0; link <= kMostLinks; ++link) {
        struct stat st = {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            file = at; // not a link (or nothing at all): the file to write
            return true;
        }
        std::error_code ec;
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) {
            file = at;
            return true;
        }
        // A relative link is read from the folder the link is in.
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    message = "--output " + singleQuoted(pathForMessage(given)) + " is a symbolic link that leads through more than " +
              std::to_string(kMostLinks) + " links (a loop?); give a file, or a link that leads to one";
    return false;
}

bool commitReplacement(ReplacementFile& file, std::string& message)
{
    if (!keepOwnerAndMode(fdOf(file), file.target, message)) {
        abandonReplacement(file);
        return false;
    }
    if (file.temporary.empty() && !nameUnnamed(file, message)) {
        abandonReplacement(file);
        return false;
    }
    const int fd = fdOf(file);
    file.handle = -1;
    if (::close(fd) != 0) {
        message = cannot("write", file.target, errno);
        abandonReplacement(file);
        return false;
    }
    if (::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
        message = cannot("replace", file.target, errno);
        abandonReplacement(file);
        return false;
    }
    file.temporary.clear();
    return true;
}

void abandonReplacement(ReplacementFile& file)
{
    closeQuietly(file);
    if (!file.temporary.empty()) {
        ::unlink(file.temporary.c_str());
        file.temporary.clear();
    }
}

std::uint64_t currentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

bool processIsGone(std::uint64_t pid)
{
    // Only ESRCH says no such process; EPERM is a live process of another user.
    if (pid == 0 || pid > static_cast<std::uint64_t>(INT32_MAX))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

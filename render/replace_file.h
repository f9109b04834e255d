#pragma once
// Writing a file so that its target is replaced only when the new content is complete.
// The bytes go to a temporary file in the target's folder (so the final rename never
// crosses file systems), which is renamed over the target at the end, or removed if
// anything goes wrong. A reader never sees a half-written file under the target name,
// and however the writer ends, it leaves no temporary file behind:
// - on Linux the temporary file has no name at all (O_TMPFILE) until it is complete;
//   a process killed mid-write leaves nothing;
// - on Windows it is marked for deletion until complete, so the system removes it
//   when the process ends, however it ends;
// - where the file system allows neither, it is a hidden part file carrying the
//   writer's process id, and the next render to the same target removes those whose
//   writer is gone.
//
// What the target was is kept: the new file takes the old one's permissions and, where
// this user may give them, its owner and group (Windows: its hidden, system, archive and
// not-indexed attributes). A target that is a symbolic link is followed to the file it
// leads to, which is replaced, so the link stays a link and leads to the new content.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// The file `given` leads to: `given` itself unless it is a symbolic link, else the end
// of the chain of links (a link to nothing gives the name it points to, and the render
// creates that file). False with `message` for a chain that never ends. On Windows a
// link is followed where the system resolves it (GetFinalPathNameByHandle), so a link
// to nothing is replaced by the new file there.
bool followLinks(const std::filesystem::path& given, std::filesystem::path& file, std::string& message);

enum class TargetCheck { Ok, NoFolder, IsFolder, NotAFile };

// Whether `target` can be written as a new regular file: its folder must exist, and it
// must be either absent or a regular file (never a folder or a device, which a rename
// would replace). `message` says what is wrong and what is accepted.
TargetCheck checkTarget(const std::filesystem::path& target, std::string& message);

// How the temporary file is made: Unnamed where the system can (falling back to Named
// where the file system refuses), or Named from the start.
enum class TemporaryKind { Unnamed, Named };

struct ReplacementFile {
    std::filesystem::path target;
    std::filesystem::path temporary; // the part file's name; empty while the file has none
    std::intptr_t handle = -1;       // the open file: a descriptor, or a Windows HANDLE
};

// Removes stale part files left beside `target` and creates the temporary file. On
// failure returns false with `message` set and leaves nothing behind.
bool beginReplacement(ReplacementFile& file, const std::filesystem::path& target, std::string& message,
                      TemporaryKind kind = TemporaryKind::Unnamed);

// Appends bytes; false (with `message`) on a write error.
bool writeReplacement(ReplacementFile& file, const void* bytes, std::size_t count, std::string& message);

// Gives the temporary file what the target has (permissions, owner and group;
// attributes on Windows), closes it and renames it over the target. On failure the
// temporary file is removed, the target is as it was, and `message` says why.
bool commitReplacement(ReplacementFile& file, std::string& message);

// Closes and removes the temporary file; the target is untouched.
void abandonReplacement(ReplacementFile& file);

// The part file a writer with process id `pid` uses for `target`: ".NAME.PID.TAG.part"
// beside it, TAG twelve hex digits of `tag`.
std::filesystem::path partFilePath(const std::filesystem::path& target, std::uint64_t pid, std::uint64_t tag);

// A part file name for this process, fresh each time.
std::filesystem::path newPartFilePath(const std::filesystem::path& target);

// The folder `target` is in ("." for a bare name): where its temporary file goes.
std::filesystem::path folderOf(const std::filesystem::path& target);

// Removes the part files for `target` whose writer process no longer exists, leaving
// those of live writers (a render still running) and every other file alone. Returns
// how many it removed.
std::size_t removeStalePartFiles(const std::filesystem::path& target);

// The platform's part: this process's id, and whether process `pid` is gone.
std::uint64_t currentProcessId();
bool processIsGone(std::uint64_t pid);

#pragma once
// Writing a file so that its target is replaced only when the new content is complete:
// the bytes go to a temporary file beside the target (same folder, so the final rename
// never crosses file systems), which is renamed over the target at the end, or removed
// if anything goes wrong. A reader never sees a half-written file under the target name.
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

enum class TargetCheck { Ok, NoFolder, IsFolder, NotAFile };

// Whether `target` can be written as a new regular file: its folder must exist, and it
// must be either absent or a regular file (never a folder or a device, which a rename
// would replace). `message` says what is wrong and what is accepted.
TargetCheck checkTarget(const std::filesystem::path& target, std::string& message);

struct ReplacementFile {
    std::filesystem::path target;
    std::filesystem::path temporary;
    std::ofstream stream;
};

// Creates the temporary file beside `target`. On failure returns false with `message`
// set and leaves nothing behind.
bool beginReplacement(ReplacementFile& file, const std::filesystem::path& target, std::string& message);

// Appends bytes; false (with `message`) on a write error.
bool writeReplacement(ReplacementFile& file, const void* bytes, std::size_t count, std::string& message);

// Closes the temporary file and renames it over the target. On failure the temporary
// file is removed, the target is as it was, and `message` says why.
bool commitReplacement(ReplacementFile& file, std::string& message);

// Closes and removes the temporary file; the target is untouched.
void abandonReplacement(ReplacementFile& file);

// The temporary file on Windows: a part file marked for deletion until it is complete,
// so the system removes it when the process ends mid-write, however it ends (the
// console window closed, Ctrl+Break, the task ended).
#include "render/replace_file.h"

#include <windows.h>

#include "render/single_quoted.h"
#include "render/utf8_args.h"

namespace fs = std::filesystem;

namespace {

std::string systemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr)
        return "error " + std::to_string(error);
    std::wstring wide(text, length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    return pathForMessage(fs::path(wide));
}

std::string cannot(const char* what, const fs::path& path, DWORD error)
{
    return std::string("cannot ") + what + " " + singleQuoted(pathForMessage(path)) + ": " + systemMessage(error);
}

HANDLE handleOf(const ReplacementFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

bool markForDeletion(HANDLE handle, bool deleteIt)
{
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = deleteIt ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

// The attributes of the old file worth keeping: whether it is hidden, a system file, to
// be archived, left out of indexing. Read-only is not among them: a read-only file is
// not replaced at all (the rename is refused), as Windows guards it.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives the open temporary file the target's kept attributes; a new target keeps the
// temporary file's own.
bool keepAttributes(HANDLE handle, const fs::path& target, std::string& message)
{
    const DWORD old = GetFileAttributesW(target.c_str());
    if (old == INVALID_FILE_ATTRIBUTES || (old & kKeptAttributes) == 0)
        return true;
    FILE_BASIC_INFO info{}; // times left at zero: unchanged
    info.FileAttributes = old & kKeptAttributes;
    if (SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info))
        return true;
    message = cannot("keep the attributes of", target, GetLastError());
    return false;
}

// "\\?\C:\x" as "C:\x", "\\?\UNC\server\share" as "\\server\share": the plain
// form, which every later call takes.
std::wstring withoutLongPrefix(std::wstring path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

} // namespace

// Asks the system for the file a path leads to: the name GetFinalPathNameByHandle gives
// the opened file. A plain file's final name is its own full name, and the name given
// is kept for messages; a symbolic link's (under Wine, a Unix link's too) is its target's.
// A link to nothing (or a loop) does not open, and is replaced as it is.
bool followLinks(const fs::path& given, fs::path& file, std::string&)
{
    file = given;
    const HANDLE handle = CreateFileW(given.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
    if (length >= final.size()) {
        final.resize(length);
        length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
    }
    CloseHandle(handle);
    if (length == 0 || length >= final.size())
        return true;
    final = withoutLongPrefix(final.substr(0, length));
    std::wstring full(MAX_PATH, L'\0');
    const DWORD fullLength = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    const bool same = fullLength > 0 && fullLength < full.size() &&
                      CompareStringOrdinal(full.c_str(), static_cast<int>(fullLength), final.c_str(),
                                           static_cast<int>(final.size()), TRUE) == CSTR_EQUAL;
    if (!same)
        file = fs::path(final);
    return true;
}

bool beginReplacement(ReplacementFile& file, const fs::path& target, std::string& message, TemporaryKind)
{
    file = ReplacementFile{};
    file.target = target;
    removeStalePartFiles(target);
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 8 && error == ERROR_FILE_EXISTS; ++attempt) {
        file.temporary = newPartFilePath(target);
        const HANDLE handle = CreateFileW(file.temporary.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file.handle = reinterpret_cast<std::intptr_t>(handle);
            // Where the file system refuses, the part file stays named and the next
            // render to this target removes it if this one dies.
            markForDeletion(handle, true);
            return true;
        }
        error = GetLastError();
    }
    message = cannot("write in the folder", folderOf(target), error);
    file.temporary.clear();
    return false;
}

bool writeReplacement(ReplacementFile& file, const void* bytes, std::size_t count, std::string& message)
{
    const char* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handleOf(file), at, piece, &written, nullptr) || written == 0) {
            message = cannot("write", file.target, written == 0 ? ERROR_DISK_FULL : GetLastError());
            return false;
        }
        at += written;
        count -= written;
    }
    return true;
}

bool commitReplacement(ReplacementFile& file, std::string& message)
{
    const HANDLE handle = handleOf(file);
    if (!keepAttributes(handle, file.target, message)) {
        abandonReplacement(file);
        return false;
    }
    // Should the mark not come off, closing deletes the file and the rename below
    // reports it missing: never a half-finished target.
    markForDeletion(handle, false);
    file.handle = -1;
    if (!CloseHandle(handle)) {
        message = cannot("write", file.target, GetLastError());
        abandonReplacement(file);
        return false;
    }
    if (!MoveFileExW(file.temporary.c_str(), file.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        message = cannot("replace", file.target, GetLastError());
        abandonReplacement(file);
        return false;
    }
    file.temporary.clear();
    return true;
}

void abandonReplacement(ReplacementFile& file)
{
    if (file.handle != -1) {
        const HANDLE handle = handleOf(file);
        markForDeletion(handle, true);
        CloseHandle(handle);
        file.handle = -1;
    }
    if (!file.temporary.empty()) {
        DeleteFileW(file.temporary.c_str()); // already gone when the mark held
        file.temporary.clear();
    }
}

std::uint64_t currentProcessId() { return GetCurrentProcessId(); }

bool processIsGone(std::uint64_t pid)
{
    if (pid == 0 || pid > 0xFFFFFFFFu)
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return GetLastError() == ERROR_INVALID_PARAMETER; // no such process; access denied is a live one
    DWORD code = 0;
    const bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    CloseHandle(process);
    return ended;
}

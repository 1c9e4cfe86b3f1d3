#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "platform/windows_error.h"
#include "platform/windows_path.h"

namespace qj {

namespace {

namespace fs = std::filesystem;

int LastErrno();

}  // namespace

int ErrnoOfWindowsError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    default:
        return EIO;
    }
}

namespace {

int ErrnoOf(DWORD error) {
    return ErrnoOfWindowsError(error);
}

int LastErrno() {
    return ErrnoOf(GetLastError());
}

// Windows refuses to open or replace a folder as a file with "access denied"; the reason a user
// can act on is that a folder is in the way.
int LastErrnoAt(const fs::path& path) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(LongPathForm(path).c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return EISDIR;
    }
    return ErrnoOf(error);
}

// An open file handle, closed when it goes.
class File {
public:
    File(const fs::path& path, DWORD access, DWORD disposition)
        : handle_(CreateFileW(LongPathForm(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }
    // False (with the reason in GetLastError) when closing fails.
    bool Close() {
        const bool closed = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

    bool WriteAll(std::string_view contents) {
        std::size_t done = 0;
        while (done < contents.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size() - done, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(handle_, contents.data() + done, chunk, &written, nullptr)) {
                return false;
            }
            done += written;
        }
        return true;
    }

private:
    HANDLE handle_;
};

bool IsPartialName(const std::wstring& name) {
    static const std::wstring prefix(kPartialFilePrefix, kPartialFilePrefix + std::strlen(kPartialFilePrefix));
    static const std::wstring suffix(kPartialFileSuffix, kPartialFileSuffix + std::strlen(kPartialFileSuffix));
    return name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix);
}

// Calls `visit` with every entry of a folder but "." and ".."; ERROR_SUCCESS, or why the folder
// could not be read (ERROR_PATH_NOT_FOUND or ERROR_FILE_NOT_FOUND for a missing one).
template <typename Visit>
DWORD ForEachEntry(const fs::path& folder, Visit visit) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileExW(LongPathForm(folder / L"*").c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD error = ERROR_SUCCESS;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") {
            visit(entry);
        }
    } while (FindNextFileW(find, &entry) || (error = GetLastError()) != ERROR_NO_MORE_FILES);
    FindClose(find);
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Makes the folder of a "\\?\" path and every missing folder above it; 0 or the errno value.
int CreateFolders(const std::wstring& longForm) {
    if (IsFolder(longForm)) {
        return 0;
    }
    // The volume or share the path begins with ("\\?\C:", "\\?\UNC\server\share") is there or not;
    // the folders behind it are made one by one.
    std::size_t at = longForm.find(L'\\', 4);
    if (longForm.starts_with(LR"(\\?\UNC\)")) {
        at = longForm.find(L'\\', longForm.find(L'\\', 8) + 1);
    }
    while (at != std::wstring::npos) {
        at = longForm.find(L'\\', at + 1);
        const std::wstring folder = longForm.substr(0, at);
        if (!IsFolder(folder) && !CreateDirectoryW(folder.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS) {
                return ErrnoOf(error);
            }
            if (!IsFolder(folder)) {
                return ENOTDIR;  // a file stands where the folder goes
            }
        }
    }
    return 0;
}

}  // namespace

// The C runtime's texts, which are English whatever the user's language: the same words as on
// Linux for the errors a file operation meets.
Text SystemReason(int errorNumber) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const char* reason = std::strerror(errorNumber);
    return reason ? Text(reason) : "error " + std::to_string(errorNumber);
}

Result<Bytes> ReadFileBytes(const Text& path) {
    const fs::path native = NativePath(path);
    File file(native, GENERIC_READ, OPEN_EXISTING);
    if (!file.IsOpen()) {
        return FileFailure(path, LastErrnoAt(native));
    }
    Bytes contents;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.Handle(), buffer, sizeof buffer, &n, nullptr)) {
            return FileFailure(path, LastErrno());
        }
        if (n == 0) {
            break;
        }
        contents.append(buffer, n);
    }
    return contents;
}

int RemovePartialFiles(const Text& folder) {
    const fs::path native = NativePath(folder);
    int removed = 0;
    static_cast<void>(ForEachEntry(native, [&](const WIN32_FIND_DATAW& entry) {
        if (IsPartialName(entry.cFileName) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            DeleteFileW(LongPathForm(native / entry.cFileName).c_str())) {
            ++removed;
        }
    }));
    return removed;
}

Result<std::vector<Text>> ListFolder(const Text& folder) {
    std::vector<Text> names;
    const DWORD error = ForEachEntry(NativePath(folder), [&](const WIN32_FIND_DATAW& entry) {
        names.push_back(TextFromNativePath(fs::path(entry.cFileName)));
    });
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        return FileFailure(folder, ErrnoOf(error));
    }
    return names;
}

Result<void> AppendToFile(const Text& path, std::string_view bytes) {
    const fs::path native = NativePath(path);
    File file(native, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (!file.IsOpen()) {
        return FileFailure(path, LastErrnoAt(native));
    }
    const bool written = file.WriteAll(bytes);
    const int writeError = written ? 0 : LastErrno();
    if (!file.Close() && written) {
        return FileFailure(path, LastErrno());
    }
    if (!written) {
        return FileFailure(path, writeError);
    }
    return Success();
}

// Of the mode bits, Windows has only the owner's write permission (the read-only attribute); who
// else may read a file is up to the folder's access list, which for the program folder in the
// user's own space already keeps other users out.
Result<void> NarrowPermissions(const Text& path, unsigned allowedMode) {
    const fs::path native = NativePath(path);
    const DWORD attributes = GetFileAttributesW(LongPathForm(native).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Success();
    }
    if (!(allowedMode & 0200) && !(attributes & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(LongPathForm(native).c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
        return FileFailure(path, LastErrno());
    }
    return Success();
}

std::optional<unsigned long long> RegularFileSize(const Text& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(LongPathForm(NativePath(path)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int CreateFolderTree(const fs::path& folder) {
    const std::wstring longForm = LongPathForm(folder);
    if (longForm != folder.native()) {
        return CreateFolders(longForm);
    }
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        return 0;
    }
    fs::create_directories(folder, error);
    return error ? error.default_error_condition().value() : 0;
}

Result<void> EnsureFile(const Text& path) {
    const fs::path file = NativePath(path);
    if (GetFileAttributesW(LongPathForm(file).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return Success();
    }
    File created(file, GENERIC_WRITE, OPEN_ALWAYS);
    if (!created.IsOpen()) {
        return FileFailure(path, LastErrno());
    }
    return Success();
}

}  // namespace qj

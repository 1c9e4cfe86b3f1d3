#include <windows.h>

#include <algorithm>

#include "platform/open_file.h"
#include "platform/windows_error.h"
#include "platform/windows_path.h"

namespace qj {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Every file is opened so that others may still read, write, rename and delete it, as on POSIX:
// the list may be replaced while the old one is open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    const auto modified = (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                          info.ftLastWriteTime.dwLowDateTime;
    return {info.dwVolumeSerialNumber,
            (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
            static_cast<long long>(modified * 100)};
}

}  // namespace

bool OpenFile::Fail() {
    error_ = ErrnoOfWindowsError(GetLastError());
    return false;
}

bool OpenFile::Open(const std::filesystem::path& path, Mode mode, unsigned) {
    Close();
    DWORD access = GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case Mode::kRead:
        access = GENERIC_READ;
        break;
    case Mode::kAppend:
        disposition = OPEN_ALWAYS;
        break;
    case Mode::kAppendExisting:
        break;
    case Mode::kCreateNew:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    }
    const std::wstring native = LongPathForm(path);
    const HANDLE file = CreateFileW(native.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A folder where the file should be is refused as "access denied"; say what is in the way.
        const DWORD attributes = GetLastError() == ERROR_ACCESS_DENIED ? GetFileAttributesW(native.c_str())
                                                                        : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error_ = EISDIR;
            return false;
        }
        return Fail();
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    append_ = mode == Mode::kAppend || mode == Mode::kAppendExisting;
    return true;
}

bool OpenFile::Close() {
    if (handle_ == kNone) {
        return true;
    }
    const bool closed = CloseHandle(AsHandle(handle_));
    handle_ = kNone;
    return closed || Fail();
}

bool OpenFile::Flush() {
    return FlushFileBuffers(AsHandle(handle_)) || Fail();
}

bool OpenFile::WriteAll(std::string_view bytes) {
    // The handle may also truncate (which writing at the end only would not allow), so appending
    // is a move to the end before the write; one writer per file, so nothing comes between them.
    if (append_ && !SetFilePointerEx(AsHandle(handle_), LARGE_INTEGER{}, nullptr, FILE_END)) {
        return Fail();
    }
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), bytes.data(), chunk, &written, nullptr)) {
            return Fail();
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool OpenFile::ReadToEnd(Bytes& out, unsigned long long limit) {
    char buffer[65536];
    for (unsigned long long read = 0;;) {
        DWORD n = 0;
        if (!ReadFile(AsHandle(handle_), buffer, sizeof buffer, &n, nullptr)) {
            return Fail();
        }
        if (n == 0) {
            return true;
        }
        read += n;
        if (read > limit) {
            error_ = EFBIG;
            return false;
        }
        out.append(buffer, n);
    }
}

bool OpenFile::IsRegularFile() {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(AsHandle(handle_)) == FILE_TYPE_DISK && GetFileInformationByHandle(AsHandle(handle_), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool OpenFile::ReadAt(unsigned long long offset, Bytes& out) {
    std::size_t done = 0;
    while (done < out.size()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(AsHandle(handle_), out.data() + done, chunk, &n, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            out.resize(done);
            return Fail();
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    out.resize(done);
    return true;
}

bool OpenFile::Truncate(unsigned long long size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return (SetFilePointerEx(AsHandle(handle_), at, nullptr, FILE_BEGIN) && SetEndOfFile(AsHandle(handle_))) || Fail();
}

std::optional<FileIdentity> OpenFile::Identity() {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AsHandle(handle_), &info)) {
        Fail();
        return std::nullopt;
    }
    return IdentityOf(info);
}

// Windows has no mode bits to copy: the new file has what its folder passes on.
bool OpenFile::CopyModeOf(const std::filesystem::path&, unsigned) {
    return true;
}

std::optional<FileIdentity> IdentityOfFile(const std::filesystem::path& path) {
    const HANDLE file = CreateFileW(LongPathForm(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known ? std::optional(IdentityOf(info)) : std::nullopt;
}

int RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool writeThrough) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (writeThrough ? MOVEFILE_WRITE_THROUGH : 0);
    if (MoveFileExW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), flags)) {
        return 0;
    }
    // Windows says "access denied" or "sharing violation" when a folder stands where the file goes;
    // the reason a user can act on is the folder, as on Linux.
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(LongPathForm(to).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return EISDIR;
    }
    return ErrnoOfWindowsError(error);
}

bool RemoveFile(const std::filesystem::path& path) {
    return DeleteFileW(LongPathForm(path).c_str());
}

std::optional<bool> PathExists(const std::filesystem::path& path) {
    if (GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return false;
    }
    return std::nullopt;
}

unsigned long ProcessNumber() {
    return GetCurrentProcessId();
}

}  // namespace qj

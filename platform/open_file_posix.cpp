#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/open_file.h"

namespace qj {

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, static_cast<unsigned long long>(st.st_size),
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

int FlagsOf(OpenFile::Mode mode) {
    switch (mode) {
    case OpenFile::Mode::kRead:
        return O_RDONLY | O_NONBLOCK;  // a pipe without a writer would block the open
    case OpenFile::Mode::kAppend:
        return O_WRONLY | O_CREAT | O_APPEND;
    case OpenFile::Mode::kAppendExisting:
        return O_WRONLY | O_APPEND;
    case OpenFile::Mode::kCreateNew:
        return O_RDWR | O_CREAT | O_EXCL;
    }
    return O_RDONLY;
}

}  // namespace

bool OpenFile::Fail() {
    error_ = errno;
    return false;
}

bool OpenFile::Open(const std::filesystem::path& path, Mode mode, unsigned newFileMode) {
    Close();
    const int fd = ::open(path.c_str(), FlagsOf(mode) | O_CLOEXEC, newFileMode);
    if (fd < 0) {
        return Fail();
    }
    handle_ = fd;
    return true;
}

bool OpenFile::Close() {
    if (handle_ == kNone) {
        return true;
    }
    const int closed = ::close(static_cast<int>(handle_));
    handle_ = kNone;
    return closed == 0 || Fail();
}

bool OpenFile::Flush() {
    return ::fsync(static_cast<int>(handle_)) == 0 || Fail();
}

bool OpenFile::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return Fail();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OpenFile::ReadToEnd(Bytes& out, unsigned long long limit) {
    char buffer[65536];
    for (unsigned long long read = 0;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail();
        }
        read += static_cast<unsigned long long>(n);
        if (read > limit) {
            error_ = EFBIG;
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

bool OpenFile::IsRegularFile() {
    struct stat st {};
    return ::fstat(static_cast<int>(handle_), &st) == 0 && S_ISREG(st.st_mode);
}

bool OpenFile::ReadAt(unsigned long long offset, Bytes& out) {
    const ssize_t n = ::pread(static_cast<int>(handle_), out.data(), out.size(), static_cast<off_t>(offset));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return n >= 0 || Fail();
}

bool OpenFile::Truncate(unsigned long long size) {
    return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0 || Fail();
}

std::optional<FileIdentity> OpenFile::Identity() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return IdentityOf(st);
}

bool OpenFile::CopyModeOf(const std::filesystem::path& path, unsigned fallback) {
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : fallback;
    return ::fchmod(static_cast<int>(handle_), mode) == 0 || Fail();
}

std::optional<FileIdentity> IdentityOfFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return IdentityOf(st);
}

int RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool RemoveFile(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0;
}

std::optional<bool> PathExists(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return true;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    return std::nullopt;
}

unsigned long ProcessNumber() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace qj

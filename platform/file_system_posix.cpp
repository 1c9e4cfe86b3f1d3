#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/program_folder.h"

namespace qj {

namespace {

namespace fs = std::filesystem;

FileError ErrorOf(const Text& path, int errorNumber) {
    return {path, SystemReason(errorNumber)};
}

bool WriteAll(int fd, const Bytes& contents) {
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a path finally names: a symbolic link is replaced through, not over.
fs::path ResolvedTarget(const fs::path& target) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        fs::path resolved = fs::weakly_canonical(target, error);
        if (!error) {
            return resolved;
        }
    }
    return target;
}

}  // namespace

Text SystemReason(int errorNumber) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale) {
        return strerror_l(errorNumber, cLocale);
    }
    return "error " + std::to_string(errorNumber);
}

std::optional<Bytes> ReadFileBytes(const Text& path, int* errorNumber) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    auto fail = [&](int error) -> std::optional<Bytes> {
        if (errorNumber) {
            *errorNumber = error;
        }
        return std::nullopt;
    };
    if (fd < 0) {
        return fail(errno);
    }
    Bytes contents;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return fail(error);
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return contents;
}

std::optional<FileError> ReplaceFileContents(const Text& path, const Bytes& contents, unsigned newFileMode,
                                             bool durable) {
    const fs::path target = ResolvedTarget(NativePath(path));
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temporary = (folder / ("." + target.filename().native() + ".XXXXXX")).native();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return ErrorOf(path, errno);
    }
    auto fail = [&](int errorNumber) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return ErrorOf(path, errorNumber);
    };
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : newFileMode;
    if (::fchmod(fd, mode) != 0 || !WriteAll(fd, contents) || (durable && ::fsync(fd) != 0)) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        const int errorNumber = errno;
        ::unlink(temporary.c_str());
        return ErrorOf(path, errorNumber);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int errorNumber = errno;
        ::unlink(temporary.c_str());
        return ErrorOf(path, errorNumber);
    }
    return std::nullopt;
}

std::optional<FileError> WriteFileInOneStep(const Text& path, const Bytes& bytes) {
    const fs::path target = NativePath(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // A short name of its own, so that even a file name of the longest length gets a partial file.
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::string partial;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::string name = kPartialFilePrefix;
        for (int i = 0; i < 10; ++i) {
            name.push_back(kLetters[random() % (sizeof kLetters - 1)]);
        }
        partial = (folder / (name + kPartialFileSuffix)).native();
        fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            return ErrorOf(path, errno);
        }
    }
    if (fd < 0) {
        return ErrorOf(path, EEXIST);
    }
    int errorNumber = WriteAll(fd, bytes) ? 0 : errno;
    if (::close(fd) != 0 && errorNumber == 0) {
        errorNumber = errno;
    }
    if (errorNumber == 0) {
        if (::rename(partial.c_str(), target.c_str()) == 0) {
            return std::nullopt;
        }
        errorNumber = errno;
    }
    ::unlink(partial.c_str());
    return ErrorOf(path, errorNumber);
}

int RemovePartialFiles(const Text& folder) {
    std::error_code error;
    int removed = 0;
    for (fs::directory_iterator it(NativePath(folder), error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().native();
        if (name.starts_with(kPartialFilePrefix) && name.ends_with(kPartialFileSuffix) && it->is_regular_file(error) &&
            fs::remove(it->path(), error)) {
            ++removed;
        }
    }
    return removed;
}

std::optional<FileError> ListFolder(const Text& folder, std::vector<Text>& names) {
    names.clear();
    DIR* dir = ::opendir(NativePath(folder).c_str());
    if (!dir) {
        return errno == ENOENT ? std::nullopt : std::optional(ErrorOf(folder, errno));
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(TextFromNativePath(fs::path(name)));
        }
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        return ErrorOf(folder, readError);
    }
    return std::nullopt;
}

std::optional<FileError> AppendToFile(const Text& path, const Bytes& bytes) {
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return ErrorOf(path, errno);
    }
    const bool written = WriteAll(fd, bytes);
    const int writeError = errno;
    if (::close(fd) != 0 && written) {
        return ErrorOf(path, errno);
    }
    if (!written) {
        return ErrorOf(path, writeError);
    }
    return std::nullopt;
}

std::optional<FileError> NarrowPermissions(const Text& path, unsigned allowedMode) {
    struct stat info {};
    const fs::path native = NativePath(path);
    if (::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    const mode_t current = info.st_mode & 07777;
    const mode_t restricted = current & allowedMode;
    if (restricted != current && ::chmod(native.c_str(), restricted) != 0) {
        return ErrorOf(path, errno);
    }
    return std::nullopt;
}

std::optional<unsigned long long> RegularFileSize(const Text& path) {
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<unsigned long long>(st.st_size);
}

std::optional<FileError> EnsureFolder(const Text& path) {
    std::error_code error;
    const fs::path folder = NativePath(path);
    if (fs::is_directory(folder, error)) {
        return std::nullopt;
    }
    fs::create_directories(folder, error);
    if (error) {
        return FileError{path, SystemReason(error.value())};
    }
    return std::nullopt;
}

std::optional<FileError> EnsureFile(const Text& path) {
    const fs::path file = NativePath(path);
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0) {
        return std::nullopt;
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return ErrorOf(path, errno);
    }
    ::close(fd);
    return std::nullopt;
}

}  // namespace qj

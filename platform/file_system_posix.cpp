#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/program_folder.h"

namespace qj {

namespace {

namespace fs = std::filesystem;

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

Text SystemReason(int errorNumber) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale) {
        return strerror_l(errorNumber, cLocale);
    }
    return "error " + std::to_string(errorNumber);
}

Result<Bytes> ReadFileBytes(const Text& path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FileFailure(path, errno);
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
            return FileFailure(path, error);
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return contents;
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

Result<std::vector<Text>> ListFolder(const Text& folder) {
    std::vector<Text> names;
    DIR* dir = ::opendir(NativePath(folder).c_str());
    if (!dir) {
        if (errno == ENOENT) {
            return names;
        }
        return FileFailure(folder, errno);
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
        return FileFailure(folder, readError);
    }
    return names;
}

Result<void> AppendToFile(const Text& path, std::string_view bytes) {
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return FileFailure(path, errno);
    }
    const bool written = WriteAll(fd, bytes);
    const int writeError = errno;
    if (::close(fd) != 0 && written) {
        return FileFailure(path, errno);
    }
    if (!written) {
        return FileFailure(path, writeError);
    }
    return Success();
}

Result<void> NarrowPermissions(const Text& path, unsigned allowedMode) {
    struct stat info {};
    const fs::path native = NativePath(path);
    if (::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Success();
    }
    const mode_t current = info.st_mode & 07777;
    const mode_t restricted = current & allowedMode;
    if (restricted != current && ::chmod(native.c_str(), restricted) != 0) {
        return FileFailure(path, errno);
    }
    return Success();
}

std::optional<unsigned long long> RegularFileSize(const Text& path) {
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<unsigned long long>(st.st_size);
}

int CreateFolderTree(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        return 0;
    }
    fs::create_directories(folder, error);
    return error ? error.value() : 0;
}

Result<void> EnsureFile(const Text& path) {
    const fs::path file = NativePath(path);
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0) {
        return Success();
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return FileFailure(path, errno);
    }
    ::close(fd);
    return Success();
}

}  // namespace qj

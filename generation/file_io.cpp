#include "generation/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "text/code_page.h"

namespace qj {

namespace {

FileError SystemError(const std::string& what, const Text& path, int error) {
    return what + " " + path + "：" + Utf8ToAnsi(std::strerror(error));
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::filesystem::path NativePath(const Text& gbkPath) { return std::filesystem::path(AnsiToUtf8(gbkPath)); }

FileError ReadWholeFile(const Text& path, Bytes& contents, bool missingIsEmpty) {
    contents.clear();
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT && missingIsEmpty) {
            return {};
        }
        return SystemError("无法打开", path, errno);
    }
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return SystemError("无法读取", path, error);
        }
        if (n == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return {};
}

FileError WriteFileAtomically(const Text& path, const Bytes& contents, unsigned mode) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target = NativePath(path);
    std::filesystem::path temp = target;
    temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));

    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    }
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return SystemError("无法写入", path, errno);
    }
    ::fchmod(fd, mode);  // the umask does not narrow a mode asked for on purpose
    if (!WriteAll(fd, contents.data(), contents.size())) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return SystemError("无法写入", path, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return SystemError("无法写入", path, error);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return SystemError("无法替换", path, error);
    }
    return {};
}

FileError AppendToFile(const Text& path, const Bytes& bytes) {
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return SystemError("无法打开", path, errno);
    }
    const bool written = WriteAll(fd, bytes.data(), bytes.size());
    const int error = errno;
    if (::close(fd) != 0 || !written) {
        return SystemError("无法写入", path, written ? errno : error);
    }
    return {};
}

FileError MakeFolders(const Text& path) {
    std::error_code ec;
    const std::filesystem::path native = NativePath(path);
    std::filesystem::create_directories(native, ec);
    if (ec || !std::filesystem::is_directory(native)) {
        return "无法创建文件夹 " + path + "：" + Utf8ToAnsi(ec ? ec.message() : std::string("not a folder"));
    }
    return {};
}

}  // namespace qj

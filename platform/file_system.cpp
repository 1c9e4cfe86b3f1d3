#include "platform/file_system.h"

#include <cerrno>

// What every system's file services share: they differ only below ReadFileBytes and SystemReason.

namespace qj {

std::optional<FileError> ReadFileOrEmpty(const Text& path, Bytes& contents) {
    int errorNumber = 0;
    std::optional<Bytes> read = ReadFileBytes(path, &errorNumber);
    contents = read ? std::move(*read) : Bytes();
    if (!read && errorNumber != ENOENT) {
        return FileError{path, SystemReason(errorNumber)};
    }
    return std::nullopt;
}

Text Describe(const FileError& error) {
    return error.path + "：" + error.reason;
}

}  // namespace qj

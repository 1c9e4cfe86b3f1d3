#include "platform/file_system.h"

#include <cerrno>

#include "platform/program_folder.h"

// What every system's file services share: they differ only below ReadFileBytes, SystemReason and
// CreateFolderTree.

namespace qj {

namespace fs = std::filesystem;

Text Describe(const Error& error) {
    return error.where + "：" + error.reason;
}

Error FileFailure(const Text& path, int errorNumber) {
    return Error{.kind = errorNumber == ENOENT ? ErrorKind::kMissing : ErrorKind::kFile,
                 .where = path,
                 .reason = SystemReason(errorNumber),
                 .code = errorNumber};
}

Result<Bytes> ReadFileOrEmpty(const Text& path) {
    Result<Bytes> read = ReadFileBytes(path);
    if (!read && read.error().kind == ErrorKind::kMissing) {
        return Bytes();
    }
    return read;
}

Result<void> EnsureFolder(const Text& path) {
    if (const int errorNumber = CreateFolderTree(NativePath(path))) {
        return FileFailure(path, errorNumber);
    }
    return Success();
}

fs::path ResolvedTarget(const fs::path& path) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        fs::path resolved = fs::weakly_canonical(path, error);
        if (!error) {
            return resolved;
        }
    }
    return path;
}

}  // namespace qj

#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/result.h"
#include "text/types.h"

namespace qj {

// The system's reason for an errno value, in plain English (locale independent).
Text SystemReason(int errorNumber);

// A file operation on `path` failed with an errno value: kMissing when the file or a folder of its
// path is not there, kFile otherwise, with the system's reason.
Error FileFailure(const Text& path, int errorNumber);

// The whole content of a file.
[[nodiscard]] Result<Bytes> ReadFileBytes(const Text& path);

// The whole content of a file, a missing file reading as empty.
[[nodiscard]] Result<Bytes> ReadFileOrEmpty(const Text& path);

// Removes the files of a folder that WriteFileInOneStep left unfinished (the program was killed
// while writing). Only for a folder no writer is using. Returns how many went.
int RemovePartialFiles(const Text& folder);

// The names of what a folder holds (files and folders alike, without "." and "..") as GBK texts, a
// character the code page lacks as "?"; a missing folder holds nothing.
[[nodiscard]] Result<std::vector<Text>> ListFolder(const Text& folder);

// Appends bytes to a file in one write, creating the file when missing. The folder must exist.
[[nodiscard]] Result<void> AppendToFile(const Text& path, std::string_view bytes);

// Takes from an existing regular file every permission (POSIX mode bits) that `allowedMode` lacks,
// and never adds one. A missing file is left to get its mode when it is made; anything but a
// regular file is left alone.
[[nodiscard]] Result<void> NarrowPermissions(const Text& path, unsigned allowedMode);

// The size of a regular file; nullopt for a missing file and for anything but a regular file.
std::optional<unsigned long long> RegularFileSize(const Text& path);

// Makes sure a folder exists, creating missing parents.
[[nodiscard]] Result<void> EnsureFolder(const Text& path);

// Makes sure a file exists, creating it empty when missing; an existing file is not touched.
[[nodiscard]] Result<void> EnsureFile(const Text& path);

// The file a path finally names: a symbolic link is followed to its target, so that a file written
// there replaces the target, not the link.
std::filesystem::path ResolvedTarget(const std::filesystem::path& path);

// Makes the folder of a native path and every missing folder above it; 0 or the errno value. (Each
// system's own; EnsureFolder is the way to call it.)
int CreateFolderTree(const std::filesystem::path& folder);

}  // namespace qj

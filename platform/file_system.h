#pragma once

#include <optional>
#include <vector>

#include "text/types.h"

namespace qj {

// Why a file operation failed: the file's path and the system's reason, both GBK.
struct FileError {
    Text path;
    Text reason;
};

// "path：reason", for a log line.
Text Describe(const FileError& error);

// The system's reason for an errno value, in plain English (locale independent).
Text SystemReason(int errorNumber);

// The whole content of a file; nullopt (and the errno value) when it cannot be opened or read.
[[nodiscard]] std::optional<Bytes> ReadFileBytes(const Text& path, int* errorNumber = nullptr);

// The whole content of a file, a missing file reading as empty; an error for anything else that
// stops the read.
[[nodiscard]] std::optional<FileError> ReadFileOrEmpty(const Text& path, Bytes& contents);

// Replaces the content of a file so that no reader ever sees a half-written one: the bytes go to a
// temporary file in the same folder, which is flushed and renamed over the file. A new file gets
// `newFileMode`; a replaced one keeps its permissions. The folder must exist. With `durable`, the
// bytes reach the disk before the rename (they survive a power cut, at the cost of a disk flush);
// without it, they survive a crash or kill of the program, which is what files rewritten for every
// keyword need.
[[nodiscard]] std::optional<FileError> ReplaceFileContents(const Text& path, const Bytes& contents,
                                                           unsigned newFileMode = 0644, bool durable = true);

// Writes a whole file so that no reader, nor a program that watches the folder, ever sees it half
// written: the bytes go to a new file of the same folder named kPartialFilePrefix + random letters +
// kPartialFileSuffix, which is renamed over the file. One open, write, close and rename, no disk
// flush: a kill or crash of the program leaves the old file or the new one, never a mix; a power cut
// may lose the new bytes (the file then is empty, or still the old one), as it may for any file the
// system had not written out yet. A new file gets 0644 less the umask. The folder must exist.
[[nodiscard]] std::optional<FileError> WriteFileInOneStep(const Text& path, const Bytes& bytes);

inline constexpr const char* kPartialFilePrefix = ".qingjian-";
inline constexpr const char* kPartialFileSuffix = ".part";

// Removes the files of a folder that WriteFileInOneStep left unfinished (the program was killed
// while writing). Only for a folder no writer is using. Returns how many went.
int RemovePartialFiles(const Text& folder);

// The names of what a folder holds (files and folders alike, without "." and "..") as GBK texts, a
// character the code page lacks as "?"; a missing folder holds nothing.
[[nodiscard]] std::optional<FileError> ListFolder(const Text& folder, std::vector<Text>& names);

// Appends bytes to a file in one write, creating the file when missing. The folder must exist.
[[nodiscard]] std::optional<FileError> AppendToFile(const Text& path, const Bytes& bytes);

// Takes from an existing regular file every permission (POSIX mode bits) that `allowedMode` lacks,
// and never adds one. A missing file is left to get its mode when it is made; anything but a
// regular file is left alone.
[[nodiscard]] std::optional<FileError> NarrowPermissions(const Text& path, unsigned allowedMode);

// The size of a regular file; nullopt for a missing file and for anything but a regular file.
std::optional<unsigned long long> RegularFileSize(const Text& path);

// Makes sure a folder exists, creating missing parents.
[[nodiscard]] std::optional<FileError> EnsureFolder(const Text& path);

// Makes sure a file exists, creating it empty when missing; an existing file is not touched.
[[nodiscard]] std::optional<FileError> EnsureFile(const Text& path);

}  // namespace qj

#pragma once

#include <filesystem>

#include "text/types.h"

namespace qj {

// File names are GBK texts in the program; on disk they are in the system's file-name encoding.
std::filesystem::path NativePath(const Text& gbkPath);

// The outcome of a file operation: empty on success, else what went wrong (path and the system's
// reason), ready for a log line.
using FileError = Text;

// Reads a whole file. A missing file is an error unless `missingIsEmpty`.
FileError ReadWholeFile(const Text& path, Bytes& contents, bool missingIsEmpty = false);

// Replaces a file's contents as one step: the bytes go to a temporary file beside it, which is then
// renamed over the old file, so a crash never leaves a half-written file. `mode` applies to a file
// that does not exist yet; an existing file keeps its permissions.
FileError WriteFileAtomically(const Text& path, const Bytes& contents, unsigned mode = 0644);

// Appends bytes to a file, creating it when needed.
FileError AppendToFile(const Text& path, const Bytes& bytes);

// Creates a folder and its missing parents.
FileError MakeFolders(const Text& path);

}  // namespace qj

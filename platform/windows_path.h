#pragma once

// Shared by the Windows implementations of platform/: the paths the wide-character file functions
// are given.

#include <filesystem>
#include <string>

namespace qj {

// `path` in a form the wide-character file functions take at any length. Without the "\\?\" form
// they refuse a path of MAX_PATH characters or more (a folder's from MAX_PATH - 12 on); from that
// length on, the path becomes the absolute "\\?\C:\..." or "\\?\UNC\server\share\..." with "\"
// between its parts and no "." or ".." left in it (in that form the system takes every character
// literally). A shorter path is passed on as it is, so that what always worked goes the way it
// always went.
std::wstring LongPathForm(const std::filesystem::path& path);

}  // namespace qj

#pragma once

#include <filesystem>
#include <string_view>

#include "text/types.h"

namespace qj {

inline constexpr char kPathSeparator = '/';

// The folder every file of the program lives in, as a GBK text without trailing separator: the
// environment variable QINGJIAN_HOME when it is set and not empty, else the executable's folder.
// Read anew on every call, so a test may point it elsewhere. A relative QINGJIAN_HOME names a
// folder of the directory that was current when the process started (see FromStartDirectory).
Text ProgramFolder();

// A relative path taken from the directory that was current when the process started, whatever
// the current directory is now; an absolute path as it is.
std::filesystem::path FromStartDirectory(const std::filesystem::path& path);

// The program folder, a separator and `tail` (whose separators are "/").
Text ProgramPath(std::string_view tail);

// Makes `folder` the current directory of the process; false when it cannot be entered.
bool EnterFolder(const Text& folder);

// File names are GBK texts inside the program and UTF-8 on disk: these convert at the boundary.
std::filesystem::path NativePath(std::string_view gbkPath);
Text TextFromNativePath(const std::filesystem::path& path);

}  // namespace qj

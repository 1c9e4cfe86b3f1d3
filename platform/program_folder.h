#pragma once

#include <filesystem>
#include <string_view>

#include "text/types.h"

namespace qj {

// Tails of the program's files, appended to the program folder by ProgramPath.
inline constexpr const char* kSettingsFileTail = "\xC5\xE4\xD6\xC3.ini";  // 配置.ini
inline constexpr const char* kKeywordListTail =
    "OpenAi/\xB4\xFD\xB2\xC9\xBC\xAF\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/待采集关键词.txt
inline constexpr const char* kOutputFolderTail = "OpenAi/\xC9\xFA\xB3\xC9\xC4\xDA\xC8\xDD/";  // OpenAi/生成内容/
inline constexpr const char* kFailureListTail =
    "OpenAi/\xB2\xC9\xBC\xAF\xCA\xA7\xB0\xDC\xB2\xC9\xBC\xAF\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/采集失败采集关键词.txt

inline constexpr char kPathSeparator = '/';

// The folder every file of the program lives in, as a GBK text without trailing separator: the
// environment variable QINGJIAN_HOME when it is set and not empty, else the executable's folder.
// Read anew on every call, so a test may point it elsewhere.
Text ProgramFolder();

// The program folder, a separator and `tail` (whose separators are "/").
Text ProgramPath(std::string_view tail);

// File names are GBK texts inside the program and UTF-8 on disk: these convert at the boundary.
std::filesystem::path NativePath(std::string_view gbkPath);
Text TextFromNativePath(const std::filesystem::path& path);

}  // namespace qj

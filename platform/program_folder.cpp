#include "platform/program_folder.h"

// What the program folder means on every system: the executable's folder or the one the
// environment names, as the process found it when it started.

namespace qj {

namespace {

// The current directory when the process started. Start-up makes the program folder the current
// directory, so a relative QINGJIAN_HOME read afterwards would name a folder inside itself.
const std::filesystem::path& StartDirectory() {
    static const std::filesystem::path start = [] {
        std::error_code error;
        return std::filesystem::current_path(error);
    }();
    return start;
}

// Taken before main runs, while nothing can have changed the current directory yet.
[[maybe_unused]] const bool g_startDirectoryTaken = !StartDirectory().empty();

}  // namespace

std::filesystem::path FromStartDirectory(const std::filesystem::path& path) {
    if (path.is_absolute() || StartDirectory().empty()) {
        return path;
    }
    std::filesystem::path anchored = StartDirectory();
    for (const std::filesystem::path& part : path) {
        if (part != ".") {
            anchored /= part;
        }
    }
    return anchored;
}

Text ProgramPath(std::string_view tail) {
    Text path = ProgramFolder();
    if (path.empty() || path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    path += tail;
    return path;
}

}  // namespace qj

#include "platform/program_folder.h"

#include <unistd.h>

#include <cstdlib>

#include "text/code_page.h"

namespace qj {

namespace {

Text WithoutTrailingSeparators(Text folder) {
    while (folder.size() > 1 && folder.back() == kPathSeparator) {
        folder.pop_back();
    }
    return folder;
}

Text ExecutableFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return TextFromNativePath(std::filesystem::current_path(error));
    }
    return TextFromNativePath(exe.parent_path());
}

}  // namespace

Text ProgramFolder() {
    const char* home = std::getenv("QINGJIAN_HOME");
    if (home && *home) {
        return WithoutTrailingSeparators(TextFromNativePath(FromStartDirectory(home)));
    }
    return WithoutTrailingSeparators(ExecutableFolder());
}

bool EnterFolder(const Text& folder) {
    return ::chdir(NativePath(folder).c_str()) == 0;
}

std::filesystem::path NativePath(std::string_view gbkPath) {
    return std::filesystem::path(AnsiToUtf8(gbkPath));
}

Text TextFromNativePath(const std::filesystem::path& path) {
    return Utf8ToAnsi(path.native());
}

}  // namespace qj

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/program_folder.h"
#include "platform/windows_path.h"
#include "text/code_page.h"

namespace qj {

namespace {

// Inside the program a path has "/" between its parts on every system (the Win32 file functions
// take both); a name that comes from Windows is brought to that form while still UTF-16, where no
// byte of a Chinese character can be taken for a backslash.
Text GbkFromWide(std::wstring wide) {
    for (wchar_t& c : wide) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return Utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

Text WithoutTrailingSeparators(Text folder) {
    while (folder.size() > 1 && folder.back() == kPathSeparator && folder[folder.size() - 2] != ':') {
        folder.pop_back();
    }
    return folder;
}

Text ExecutableFolder() {
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
        if (n == 0) {
            std::error_code error;
            return TextFromNativePath(std::filesystem::current_path(error));
        }
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);
    }
    return TextFromNativePath(std::filesystem::path(exe).parent_path());
}

}  // namespace

Text ProgramFolder() {
    const wchar_t* home = _wgetenv(L"QINGJIAN_HOME");
    if (home && *home) {
        return WithoutTrailingSeparators(GbkFromWide(FromStartDirectory(home).native()));
    }
    return WithoutTrailingSeparators(ExecutableFolder());
}

bool EnterFolder(const Text& folder) {
    return SetCurrentDirectoryW(NativePath(folder).c_str()) != 0;
}

std::filesystem::path NativePath(std::string_view gbkPath) {
    const std::u16string wide = GbkToUtf16(gbkPath);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

Text TextFromNativePath(const std::filesystem::path& path) {
    return GbkFromWide(path.native());
}

std::wstring LongPathForm(const std::filesystem::path& path) {
    const std::wstring& native = path.native();
    constexpr std::size_t kLongest = MAX_PATH - 12 - 1;  // what CreateDirectoryW takes without the prefix
    if (native.size() <= kLongest || native.starts_with(LR"(\\?\)") || native.starts_with(LR"(\\.\)")) {
        return native;
    }
    // The full path as the system would have made it of the short form: "/" turned into "\", "."
    // and ".." resolved, a relative path put behind the current directory.
    std::wstring full(native.size() + MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(native.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(native.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return native;
    }
    full.resize(length);
    if (full.starts_with(LR"(\\)")) {
        return LR"(\\?\UNC\)" + full.substr(2);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return LR"(\\?\)" + full;
    }
    return native;
}

}  // namespace qj

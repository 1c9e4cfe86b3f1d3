#pragma once

// Environment variables for tests on every system. Values that name files are paths, so that a
// Chinese folder name reaches the program unchanged (UTF-8 bytes on Linux, UTF-16 on Windows).

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace qj::testing {

#if defined(_WIN32)
inline std::wstring WideName(const char* name) {
    return std::wstring(name, name + std::char_traits<char>::length(name));
}
#endif

inline void SetEnvironmentPath(const char* name, const std::filesystem::path& value) {
#if defined(_WIN32)
    _wputenv_s(WideName(name).c_str(), value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// On Windows an empty value removes the variable; tests that need one set but empty are POSIX.
inline void UnsetEnvironment(const char* name) {
#if defined(_WIN32)
    _wputenv_s(WideName(name).c_str(), L"");
#else
    ::unsetenv(name);
#endif
}

inline std::optional<std::filesystem::path> EnvironmentPath(const char* name) {
#if defined(_WIN32)
    const wchar_t* value = _wgetenv(WideName(name).c_str());
#else
    const char* value = std::getenv(name);
#endif
    if (!value) {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

}  // namespace qj::testing

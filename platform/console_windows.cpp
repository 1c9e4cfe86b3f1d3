#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/console.h"

namespace qj {

namespace {

// A console takes characters: UTF-16 through WriteConsoleW shows Chinese text whatever code page
// the console was left in (and leaves that code page as it was). Anything else takes the bytes
// themselves, straight to the handle, past the C runtime's line-end translation.
void WriteTo(DWORD which, std::string_view utf8) {
    const HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) {
        return;
    }
    DWORD consoleMode = 0;
    if (GetConsoleMode(out, &consoleMode)) {
        const int size = static_cast<int>(utf8.size());
        const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), units);
        DWORD written = 0;
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    while (!utf8.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(utf8.size(), 1u << 20));
        if (!WriteFile(out, utf8.data(), chunk, &written, nullptr) || written == 0) {
            return;  // a reader that went away takes nothing more
        }
        utf8.remove_prefix(written);
    }
}

}  // namespace

void WriteStandardOutput(std::string_view utf8) {
    WriteTo(STD_OUTPUT_HANDLE, utf8);
}

void WriteStandardError(std::string_view utf8) {
    WriteTo(STD_ERROR_HANDLE, utf8);
}

}  // namespace qj

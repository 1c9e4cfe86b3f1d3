#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/desktop_open.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

bool OpenOnDesktop(const Text& target) {
    const std::u16string units = GbkToUtf16(target);
    std::wstring wide(units.begin(), units.end());
    // Explorer takes a path only with Windows' own separators.
    if (FindText(target, "://") == kNotFound) {
        for (wchar_t& c : wide) {
            if (c == L'/') {
                c = L'\\';
            }
        }
    }
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;  // lower values are the error codes ShellExecute gives
}

}  // namespace qj

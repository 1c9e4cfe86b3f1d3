#pragma once

#include <cstring>
#include <string>

#include "text/code_page.h"
#include "text/text_helpers.h"
#include "text/types.h"

namespace qj::wingui {

// GBK text <-> UTF-16 at the control boundary. A text ends at its first zero byte, as a control
// never holds more. Windows controls break lines with CR LF, as the program's texts do.
inline std::wstring ToWide(const Text& text) {
    const std::u16string wide = GbkToUtf16(std::string_view(text.c_str(), std::strlen(text.c_str())));
    return std::wstring(wide.begin(), wide.end());
}

inline Text FromWide(std::wstring_view text) {
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
    return Utf16ToGbk(units);
}

// A multi-line edit box shows a lone LF as a glyph and joins the lines; the program's texts mean a
// line break by it, so every break becomes CR LF. A lone CR stays.
inline Text WithCrLfBreaks(const Text& text) {
    return ReplaceAll(ReplaceAll(text, "\r\n", "\n"), "\n", "\r\n");
}

}  // namespace qj::wingui

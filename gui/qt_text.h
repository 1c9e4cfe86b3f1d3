#pragma once

#include <QString>
#include <cstring>

#include "text/code_page.h"
#include "text/text_helpers.h"
#include "text/types.h"

namespace qj::gui {

// GBK text <-> QString at the widget boundary. A text ends at its first zero byte, as a control
// never holds more.
inline QString ToQt(const Text& text) {
    const std::u16string wide = GbkToUtf16(std::string_view(text.c_str(), std::strlen(text.c_str())));
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

inline Text FromQt(const QString& text) {
    return Utf16ToGbk(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

// The program's texts break lines with CR LF, Qt's with LF.
inline QString ToQtLines(const Text& text) {
    return ToQt(ReplaceAll(text, "\r\n", "\n"));
}
inline Text FromQtLines(const QString& text) {
    return ReplaceAll(FromQt(text), "\n", "\r\n");
}

}  // namespace qj::gui

#include <windows.h>

#include "text/code_page_system.h"

namespace qj {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `i`; 0 when the bytes there are none.
std::size_t WellFormedLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b = at(0);
    std::size_t length = 0;
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (!IsContinuation(at(k))) {
            return 0;
        }
    }
    const unsigned second = at(1);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
        (b == 0xF4 && second > 0x8F)) {
        return 0;  // overlong, a surrogate, beyond U+10FFFF
    }
    return length;
}

// Whether the bytes from `i` to the end start a sequence that the end of the text cut off.
bool IsCutOff(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                                  ? 4
                                                                                               : 0;
    if (length == 0 || i + length <= s.size()) {
        return false;
    }
    for (std::size_t k = i + 1; k < s.size(); ++k) {
        if (!IsContinuation(static_cast<unsigned char>(s[k]))) {
            return false;
        }
    }
    return true;
}

void AppendWellFormed(std::u16string& out, std::string_view utf8) {
    if (utf8.empty()) {
        return;
    }
    const int size = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    const std::size_t before = out.size();
    out.resize(before + static_cast<std::size_t>(needed));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, reinterpret_cast<wchar_t*>(out.data() + before), needed);
}

}  // namespace

char16_t SystemDecodeGbkUnit(const char* bytes, std::size_t length) {
    wchar_t unit[2] = {};
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), unit, 2);
    return n == 1 ? static_cast<char16_t>(unit[0]) : 0;
}

// The system converter decodes well-formed runs; what lies between them is replaced here, because
// Windows and iconv disagree on how many replacement characters broken input is worth.
std::u16string SystemUtf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t length = WellFormedLength(utf8, i);
        if (length != 0) {
            i += length;
            continue;
        }
        AppendWellFormed(out, utf8.substr(runStart, i - runStart));
        out.push_back(kReplacement);
        i = IsCutOff(utf8, i) ? utf8.size() : i + 1;
        runStart = i;
    }
    AppendWellFormed(out, utf8.substr(runStart));
    return out;
}

std::string SystemUtf16ToUtf8(std::u16string_view units) {
    std::u16string paired(units);
    for (std::size_t i = 0; i < paired.size(); ++i) {
        const char16_t u = paired[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < paired.size() && paired[i + 1] >= 0xDC00 && paired[i + 1] <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            paired[i] = kReplacement;
        }
    }
    if (paired.empty()) {
        return {};
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(paired.data());
    const int size = static_cast<int>(paired.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, out.data(), needed, nullptr, nullptr);
    return out;
}

}  // namespace qj

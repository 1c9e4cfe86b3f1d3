#include "run/keyword_list.h"

#include <cerrno>
#include <filesystem>

#include "platform/program_folder.h"
#include "text/code_page.h"
#include "text/gbk.h"

namespace qj {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

std::string_view BomOf(ListEncoding encoding) {
    switch (encoding) {
        case ListEncoding::kUtf8:
            return kUtf8Bom;
        case ListEncoding::kUtf16Le:
            return kUtf16LeBom;
        case ListEncoding::kUtf16Be:
            return kUtf16BeBom;
        case ListEncoding::kGbk:
            break;
    }
    return {};
}

bool EndsLine(char32_t c) {
    return c == '\n' || c == '\r' || c == '\0' || c == 0x1A;
}

// The two-byte unit at `i` of a UTF-16 list (i + 1 < size).
char16_t UnitAt(std::string_view s, std::size_t i, ListEncoding encoding) {
    const auto first = static_cast<unsigned char>(s[i]);
    const auto second = static_cast<unsigned char>(s[i + 1]);
    return static_cast<char16_t>(encoding == ListEncoding::kUtf16Le ? (first | second << 8) : (first << 8 | second));
}

std::u16string UnitsOf(std::string_view line, ListEncoding encoding) {
    std::u16string units;
    units.reserve(line.size() / 2);
    for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
        units.push_back(UnitAt(line, i, encoding));
    }
    return units;
}

Bytes BytesOf(std::u16string_view units, ListEncoding encoding) {
    Bytes bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t u : units) {
        const char low = static_cast<char>(u & 0xFF);
        const char high = static_cast<char>(u >> 8);
        bytes.push_back(encoding == ListEncoding::kUtf16Le ? low : high);
        bytes.push_back(encoding == ListEncoding::kUtf16Le ? high : low);
    }
    return bytes;
}

// UTF-16 as UTF-8, an unpaired surrogate as U+FFFD.
Bytes Utf8OfUnits(std::u16string_view units) {
    Bytes out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The length of the UTF-8 sequence that starts with `lead` in well-formed UTF-8.
std::size_t Utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing beyond
// U+10FFFF), and whether any of them starts a multi-byte sequence.
bool IsUtf8(std::string_view s, bool* multiByte) {
    *multiByte = false;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        *multiByte = true;
        i += length;
    }
    return true;
}

// How unlikely one GBK unit is in a Chinese keyword list: nothing for ASCII, the 3,755 common
// characters (lead bytes B0-D7) and the punctuation rows (A1, A3); 1 for the rarer characters of
// GB2312 (lead bytes D8-F7); 2 for its other symbol rows (numbers, kana, Greek, Cyrillic, pinyin,
// box drawing); 3 for anything else: the extension characters beyond GB2312, user-defined codes,
// and bytes that are no character.
constexpr int kUnlikely = 3;
int Unlikeliness(std::string_view unit) {
    const auto lead = static_cast<unsigned char>(unit[0]);
    if (unit.size() == 1) {
        return lead < 0x80 ? 0 : kUnlikely;
    }
    const auto trail = static_cast<unsigned char>(unit[1]);
    if (trail < 0xA1 || trail == 0xFF) {
        return kUnlikely;
    }
    if ((lead >= 0xB0 && lead <= 0xD7) || lead == 0xA1 || lead == 0xA3) {
        return 0;
    }
    if (lead >= 0xD8 && lead <= 0xF7) {
        return 1;
    }
    return lead >= 0xA2 && lead <= 0xA9 ? 2 : kUnlikely;
}

long long UnlikelinessAsGbk(std::string_view contents) {
    long long total = 0;
    for (std::size_t i = 0; i < contents.size();) {
        if (static_cast<unsigned char>(contents[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = GbkUnitLength(contents, i);
        total += Unlikeliness(contents.substr(i, length));
        i += length;
    }
    return total;
}

// The same for the characters that well-formed UTF-8 stands for, each judged by its GBK code. A
// two-byte character (Latin, IPA, Greek, Cyrillic: what a GBK list read as UTF-8 turns into) counts
// as unlikely as a character GBK lacks.
long long UnlikelinessAsUtf8(std::string_view contents) {
    long long total = 0;
    for (std::size_t i = 0; i < contents.size();) {
        if (static_cast<unsigned char>(contents[i]) < 0x80) {
            ++i;
            continue;
        }
        // A run of non-ASCII characters, converted at once: one GBK unit per character ("?" for
        // one that GBK lacks).
        std::size_t end = i;
        while (end < contents.size() && static_cast<unsigned char>(contents[end]) >= 0x80) {
            ++end;
        }
        const Text gbk = Utf8ToAnsi(contents.substr(i, end - i));
        for (std::size_t g = 0; i < end && g < gbk.size();) {
            const std::size_t length = Utf8Length(static_cast<unsigned char>(contents[i]));
            const std::size_t unit = GbkUnitLength(gbk, g);
            total += length == 2 || gbk[g] == '?' ? kUnlikely : Unlikeliness(std::string_view(gbk).substr(g, unit));
            i += length;
            g += unit;
        }
        i = end;
    }
    return total;
}

}  // namespace

const char* EncodingName(ListEncoding encoding) {
    switch (encoding) {
        case ListEncoding::kUtf8:
            return "UTF-8";
        case ListEncoding::kUtf16Le:
            return "UTF-16LE";
        case ListEncoding::kUtf16Be:
            return "UTF-16BE";
        case ListEncoding::kGbk:
            break;
    }
    return "GBK";
}

std::optional<ListEncoding> EncodingNamed(std::string_view name) {
    for (const ListEncoding e :
         {ListEncoding::kGbk, ListEncoding::kUtf8, ListEncoding::kUtf16Le, ListEncoding::kUtf16Be}) {
        if (name == EncodingName(e)) {
            return e;
        }
    }
    return std::nullopt;
}

std::optional<ListEncoding> MarkAtStart(std::string_view line) {
    if (line.starts_with(kUtf8Bom)) {
        return ListEncoding::kUtf8;
    }
    if (line.starts_with(kUtf16LeBom)) {
        return ListEncoding::kUtf16Le;
    }
    if (line.starts_with(kUtf16BeBom)) {
        return ListEncoding::kUtf16Be;
    }
    return std::nullopt;
}

std::optional<ListEncoding> OtherEncodingMark(std::string_view line, ListEncoding encoding) {
    switch (encoding) {
        case ListEncoding::kGbk:
            return MarkAtStart(line);
        case ListEncoding::kUtf8:
            // A UTF-8 mark is the list's own; FF and FE never stand in UTF-8.
            if (const std::optional<ListEncoding> mark = MarkAtStart(line); mark != ListEncoding::kUtf8) {
                return mark;
            }
            return std::nullopt;
        case ListEncoding::kUtf16Le:
        case ListEncoding::kUtf16Be: {
            // Only the other byte order's mark, U+FFFE in this one, which is no character: the bytes
            // of a UTF-8 mark may well begin two characters of UTF-16.
            const ListEncoding other =
                encoding == ListEncoding::kUtf16Le ? ListEncoding::kUtf16Be : ListEncoding::kUtf16Le;
            return line.starts_with(BomOf(other)) ? std::optional(other) : std::nullopt;
        }
    }
    return std::nullopt;
}

int KeywordsIn(std::string_view rest, ListEncoding encoding) {
    int count = 0;
    while (!rest.empty()) {
        const FirstLine next = ReadFirstLine(rest, encoding);
        if (const std::optional<ListEncoding> other = OtherEncodingMark(next.line, encoding)) {
            encoding = *other;
            rest.remove_prefix(BomOf(encoding).size());
            continue;
        }
        count += IsBlankLine(next.line, encoding) ? 0 : 1;
        rest.remove_prefix(next.line.size() + next.terminatorLength);
    }
    return count;
}

ListFormat FormatIn(std::string_view contents, ListEncoding encoding) {
    const std::string_view bom = BomOf(encoding);
    return {encoding, !bom.empty() && contents.starts_with(bom) ? bom.size() : 0};
}

ListFormat DetectListFormat(std::string_view contents) {
    if (const std::optional<ListEncoding> marked = MarkAtStart(contents)) {
        return FormatIn(contents, *marked);
    }
    bool multiByte = false;
    if (!IsUtf8(contents, &multiByte) || !multiByte) {
        return {};
    }
    // Valid both ways: the reading with the likelier characters wins, GBK when they are even. A
    // GBK list read as UTF-8 gives two-byte characters only, never likelier than the GBK reading.
    return UnlikelinessAsUtf8(contents) < UnlikelinessAsGbk(contents) ? ListFormat{ListEncoding::kUtf8, 0}
                                                                      : ListFormat{};
}

FirstLine ReadFirstLine(std::string_view contents, ListEncoding encoding) {
    FirstLine first;
    if (IsUtf16(encoding)) {
        std::size_t i = 0;
        while (i + 1 < contents.size() && !EndsLine(UnitAt(contents, i, encoding))) {
            i += 2;
        }
        if (i + 1 >= contents.size()) {
            first.line = Bytes(contents);  // the last line, an odd last byte included
            return first;
        }
        first.line = Bytes(contents.substr(0, i));
        const bool crLf = UnitAt(contents, i, encoding) == '\r' && i + 3 < contents.size() &&
                          UnitAt(contents, i + 2, encoding) == '\n';
        first.terminatorLength = crLf ? 4 : 2;
        return first;
    }
    std::size_t i = 0;
    while (i < contents.size() && !EndsLine(static_cast<unsigned char>(contents[i]))) {
        i += encoding == ListEncoding::kUtf8 ? 1 : GbkUnitLength(contents, i);
    }
    first.line = Bytes(contents.substr(0, i));
    if (i < contents.size()) {
        first.terminatorLength = (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') ? 2 : 1;
    }
    return first;
}

std::vector<Bytes> ListLines(std::string_view contents, ListEncoding encoding) {
    std::vector<Bytes> lines;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        FirstLine next = ReadFirstLine(contents.substr(pos), encoding);
        pos += next.line.size() + next.terminatorLength;
        lines.push_back(std::move(next.line));
        if (next.terminatorLength == 0) {
            break;
        }
    }
    return lines;
}

bool IsBlankLine(std::string_view line, ListEncoding encoding) {
    if (IsUtf16(encoding)) {
        const std::u16string units = UnitsOf(line, encoding);
        std::u16string_view rest = units;
        if (rest.starts_with(u'\xFEFF')) {
            rest.remove_prefix(1);
        }
        return line.size() % 2 == 0 && rest.find_first_not_of(u" \t\x3000") == std::u16string_view::npos;
    }
    const std::string_view wide = encoding == ListEncoding::kUtf8 ? "\xE3\x80\x80" : "\xA1\xA1";
    if (encoding == ListEncoding::kUtf8 && line.starts_with(kUtf8Bom)) {
        line.remove_prefix(kUtf8Bom.size());
    }
    while (!line.empty()) {
        if (line[0] == ' ' || line[0] == '\t') {
            line.remove_prefix(1);
        } else if (line.starts_with(wide)) {
            line.remove_prefix(wide.size());
        } else {
            return false;
        }
    }
    return true;
}

Text KeywordFromLine(std::string_view line, ListEncoding encoding, bool* lossy) {
    Text keyword;
    bool changed = false;
    if (encoding == ListEncoding::kUtf8) {
        if (line.starts_with(kUtf8Bom)) {
            line.remove_prefix(kUtf8Bom.size());
        }
        keyword = Utf8ToAnsi(line);
        changed = AnsiToUtf8(keyword) != line;
    } else if (IsUtf16(encoding)) {
        std::u16string units = UnitsOf(line, encoding);
        if (units.starts_with(u'\xFEFF')) {
            units.erase(0, 1);
        }
        keyword = Utf16ToGbk(units);
        changed = GbkToUtf16(keyword) != units;
        if (line.size() % 2 != 0) {
            keyword += '?';  // a lone last byte, no character
            changed = true;
        }
    } else {
        keyword = Text(line);
    }
    if (lossy) {
        *lossy = changed;
    }
    return keyword;
}

Bytes LineFromKeyword(const Text& keyword, ListEncoding encoding) {
    switch (encoding) {
        case ListEncoding::kUtf8:
            return AnsiToUtf8(keyword);
        case ListEncoding::kUtf16Le:
        case ListEncoding::kUtf16Be:
            return BytesOf(GbkToUtf16(keyword), encoding);
        case ListEncoding::kGbk:
            break;
    }
    return keyword;
}

Bytes LineAsUtf8(std::string_view line, ListEncoding encoding) {
    switch (encoding) {
        case ListEncoding::kUtf8:
            return Bytes(line.starts_with(kUtf8Bom) ? line.substr(kUtf8Bom.size()) : line);
        case ListEncoding::kUtf16Le:
        case ListEncoding::kUtf16Be: {
            std::u16string units = UnitsOf(line, encoding);
            if (units.starts_with(u'\xFEFF')) {
                units.erase(0, 1);
            }
            return Utf8OfUnits(units);
        }
        case ListEncoding::kGbk:
            break;
    }
    return AnsiToUtf8(line);
}

Bytes InWholeUnits(std::string_view line, ListEncoding encoding) {
    Bytes whole(line);
    if (IsUtf16(encoding) && whole.size() % 2 != 0) {
        whole.push_back('\0');
        if (EndsLine(UnitAt(whole, whole.size() - 2, encoding))) {
            whole.back() = '\xFF';
        }
    }
    return whole;
}

Bytes LineEndOf(std::string_view contents, ListEncoding encoding) {
    bool lf = false;
    if (IsUtf16(encoding)) {
        for (std::size_t i = 0; i + 1 < contents.size(); i += 2) {
            const char16_t u = UnitAt(contents, i, encoding);
            if (u == '\r' || u == '\n') {
                lf = u == '\n';
                break;
            }
        }
        return BytesOf(lf ? u"\n" : u"\r\n", encoding);
    }
    const std::size_t end = contents.find_first_of("\r\n");
    lf = end != std::string_view::npos && contents[end] == '\n';
    return lf ? "\n" : "\r\n";
}

Bytes ListToAppendTo(const Bytes& list, const ListFormat& format) {
    const std::string_view body = std::string_view(list).substr(format.bomLength);
    std::size_t kept = 0;  // behind the last line that is not blank
    for (std::size_t pos = 0; pos < body.size();) {
        const FirstLine next = ReadFirstLine(body.substr(pos), format.encoding);
        if (!IsBlankLine(next.line, format.encoding)) {
            kept = pos + next.line.size();
        }
        if (next.terminatorLength == 0) {
            break;
        }
        pos += next.line.size() + next.terminatorLength;
    }
    if (kept == 0) {
        return list.substr(0, format.bomLength);
    }
    // A last unit cut short is made whole, or the lines behind it would not be read as written.
    return list.substr(0, format.bomLength) + InWholeUnits(body.substr(0, kept), format.encoding) +
           LineEndOf(body, format.encoding);
}

Result<ListFile> ReadListFile(const Text& path) {
    ListFile read;
    OpenFile file;
    if (!file.Open(NativePath(path), OpenFile::Mode::kRead)) {
        if (file.Error() == ENOENT) {
            return read;
        }
        return FileFailure(path, file.Error());
    }
    if (!file.IsRegularFile()) {
        std::error_code error;
        if (std::filesystem::is_directory(NativePath(path), error)) {
            return FileFailure(path, EISDIR);
        }
        return Error{.where = path, .reason = "不是普通文件（是管道或设备），不能当作关键词列表读取"};
    }
    const std::optional<FileIdentity> identity = file.Identity();
    const Error tooLarge{.where = path,
                         .reason = "文件大于" + std::to_string(kMaxListBytes >> 20) + "MB，不能当作关键词列表读取",
                         .code = EFBIG};
    if (identity && identity->size > kMaxListBytes) {
        return tooLarge;
    }
    if (identity) {
        read.contents.reserve(static_cast<std::size_t>(identity->size));
    }
    if (!file.ReadToEnd(read.contents, kMaxListBytes)) {
        return file.Error() == EFBIG ? tooLarge : FileFailure(path, file.Error());
    }
    read.stamp = identity;
    return read;
}

}  // namespace qj

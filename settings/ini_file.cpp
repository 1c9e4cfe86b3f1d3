#include "settings/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"

namespace qj {

namespace {

struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;   // end of the content, a CR before the LF excluded
    std::size_t next = 0;  // behind the line terminator
    bool terminated = false;
};

std::vector<Line> SplitLines(std::string_view contents) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < contents.size()) {
        const std::size_t lf = contents.find('\n', begin);
        Line line;
        line.begin = begin;
        line.terminated = lf != std::string_view::npos;
        line.next = line.terminated ? lf + 1 : contents.size();
        line.end = line.terminated ? lf : contents.size();
        if (line.end > begin && contents[line.end - 1] == '\r') {
            --line.end;
        }
        lines.push_back(line);
        begin = line.next;
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    return TrimAscii(s, kSpaceAndTab);
}

// The section name of a "[name]" line, nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    line.remove_prefix(1);
    const std::size_t close = line.find(']');
    return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// Key and raw value of a "key=value" line, nullopt for a line without "=".
std::optional<std::pair<std::string_view, std::string_view>> KeyOf(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(Trim(line.substr(0, equals)), line.substr(equals + 1));
}

struct SectionSpan {
    std::size_t header = 0;  // index of the "[section]" line
    std::size_t end = 0;     // index of the next section line, or the line count
};

std::optional<SectionSpan> FindSection(std::string_view contents, const std::vector<Line>& lines,
                                       std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(contents.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (name && IniNamesEqual(*name, section)) {
            std::size_t end = i + 1;
            while (end < lines.size() &&
                   !SectionOf(contents.substr(lines[end].begin, lines[end].end - lines[end].begin))) {
                ++end;
            }
            return SectionSpan{i, end};
        }
    }
    return std::nullopt;
}

std::string_view LineText(std::string_view contents, const Line& line) {
    return contents.substr(line.begin, line.end - line.begin);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// What ends the unterminated last line of `contents` before a line is added behind it: a lone CR
// there (a file cut short, or edited by hand) becomes CR LF rather than staying in the line.
std::string_view LineEndFor(std::string_view contents) {
    return contents.ends_with('\r') ? "\n" : "\r\n";
}

}  // namespace

Text CutToIniReadBuffer(std::string_view value) {
    const std::size_t limit = kIniReadBufferSize - 1;
    std::size_t end = 0;
    while (end < value.size()) {
        const std::size_t unit = GbkUnitLength(value, end);
        if (end + unit > limit) {
            break;
        }
        end += unit;
    }
    return Text(value.substr(0, end));
}

namespace {

// Why a value or name cannot be written, nullopt when it can.
std::optional<Text> RefusalOf(std::string_view sectionName, std::string_view keyName, std::string_view value) {
    if (HasLineBreak(value)) {
        return Text("值中含有换行符，写入会破坏配置文件");
    }
    if (sectionName.empty() || keyName.empty() || HasLineBreak(sectionName) || HasLineBreak(keyName) ||
        sectionName.find(']') != std::string_view::npos || keyName.find('=') != std::string_view::npos) {
        return Text("节名或键名不合规（为空，或含换行符、\"]\"、\"=\"），写入会破坏配置文件");
    }
    return std::nullopt;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";

// Whether valid UTF-8 holds a Chinese character: CJK punctuation, kana and ideographs
// (U+3000-U+9FFF) or full-width forms (U+FF00-U+FFEF), all three bytes long. Text in GBK that
// happens to be valid UTF-8 reads as Latin, Greek or Cyrillic letters (two bytes) instead.
bool HoldsChineseUtf8(std::string_view utf8) {
    for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((lead >= 0xE3 && lead <= 0xE9) || (lead == 0xEF && next >= 0xBC && next <= 0xBF)) {
            return true;
        }
    }
    return false;
}

std::size_t Count(std::string_view text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// UTF-8 as GBK; zero bytes, where a file has them, stay (the converter stops at one).
Text Utf8FileToGbk(std::string_view utf8) {
    Text gbk;
    for (std::size_t begin = 0;;) {
        const std::size_t zero = utf8.find('\0', begin);
        gbk += Utf8ToAnsi(utf8.substr(begin, zero == std::string_view::npos ? std::string_view::npos : zero - begin));
        if (zero == std::string_view::npos) {
            return gbk;
        }
        gbk += '\0';
        begin = zero + 1;
    }
}

Text Utf16FileToGbk(std::string_view bytes, bool bigEndian, std::size_t* questionMarks) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        units[i] = static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
    }
    *questionMarks = static_cast<std::size_t>(std::count(units.begin(), units.end(), u'?'));
    return Utf16ToGbk(units);
}

}  // namespace

IniEncoding DetectIniEncoding(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Mark)) {
        return IniEncoding::kUtf8;
    }
    if (bytes.starts_with(kUtf16LittleEndianMark)) {
        return IniEncoding::kUtf16LittleEndian;
    }
    if (bytes.starts_with(kUtf16BigEndianMark)) {
        return IniEncoding::kUtf16BigEndian;
    }
    return IsCleanUtf8(bytes) && HoldsChineseUtf8(bytes) ? IniEncoding::kUtf8 : IniEncoding::kGbk;
}

const char* IniEncodingName(IniEncoding encoding) {
    switch (encoding) {
        case IniEncoding::kUtf8:
            return "UTF-8";
        case IniEncoding::kUtf16LittleEndian:
            return "UTF-16 LE";
        case IniEncoding::kUtf16BigEndian:
            return "UTF-16 BE";
        case IniEncoding::kGbk:
            break;
    }
    return "GBK";
}

IniDocument IniDocument::FromFileBytes(std::string_view bytes) {
    IniDocument document;
    document.encoding_ = DetectIniEncoding(bytes);
    std::size_t questionMarks = 0;
    switch (document.encoding_) {
        case IniEncoding::kGbk:
            document.text_ = Text(bytes);
            return document;
        case IniEncoding::kUtf8:
            if (bytes.starts_with(kUtf8Mark)) {
                bytes.remove_prefix(kUtf8Mark.size());
            }
            questionMarks = Count(bytes, '?');
            document.text_ = Utf8FileToGbk(bytes);
            break;
        case IniEncoding::kUtf16LittleEndian:
        case IniEncoding::kUtf16BigEndian:
            document.text_ =
                Utf16FileToGbk(bytes.substr(2), document.encoding_ == IniEncoding::kUtf16BigEndian, &questionMarks);
            break;
    }
    document.lossy_ = Count(document.text_, '?') > questionMarks;
    return document;
}

std::optional<Text> IniDocument::Value(std::string_view section, std::string_view key) const {
    section = SkipLeadingControls(section);
    key = SkipLeadingControls(key);
    if (section.empty() || key.empty()) {
        return std::nullopt;
    }
    return FindIniValue(text_, section, key);
}

std::optional<Text> IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = SkipLeadingControls(section);
    key = SkipLeadingControls(key);
    if (std::optional<Text> refusal = RefusalOf(section, key, value)) {
        return refusal;
    }
    text_ = SetIniValue(text_, section, key, value);
    return std::nullopt;
}

IniRead ReadIniDocument(const Text& path) {
    const Result<Bytes> bytes = ReadFileBytes(path);
    if (!bytes) {
        return bytes.error();
    }
    return IniDocument::FromFileBytes(*bytes);
}

Result<void> WriteIniDocument(const Text& path, const IniDocument& document, unsigned newFileMode) {
    // Settings files hold API keys: whatever a file's permissions were (it may have been made by
    // hand, readable by everyone), a write leaves it no more open than a new file would be.
    if (Result<void> narrowed = NarrowPermissions(path, newFileMode); !narrowed) {
        return narrowed;
    }
    return ReplaceFileContents(path, document.text(), newFileMode);
}

bool IniNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t unit = GbkUnitLength(a, i);
        if (unit == 2) {
            if (a.substr(i, 2) != b.substr(i, 2)) {
                return false;
            }
        } else {
            if (LowerAscii(a[i]) != LowerAscii(b[i])) {
                return false;
            }
        }
        i += unit;
    }
    return true;
}

std::string_view SkipLeadingControls(std::string_view name) {
    while (!name.empty() && static_cast<unsigned char>(name.front()) <= 32) {
        name.remove_prefix(1);
    }
    return name;
}

std::optional<Text> FindIniValue(std::string_view contents, std::string_view section, std::string_view key) {
    const std::vector<Line> lines = SplitLines(contents);
    const auto span = FindSection(contents, lines, section);
    if (!span) {
        return std::nullopt;
    }
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto entry = KeyOf(LineText(contents, lines[i]));
        if (entry && IniNamesEqual(entry->first, key)) {
            std::string_view value = Trim(entry->second);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return Text(value);
        }
    }
    return std::nullopt;
}

Bytes SetIniValue(std::string_view contents, std::string_view section, std::string_view key, std::string_view value) {
    const std::vector<Line> lines = SplitLines(contents);
    const Text entryLine = Text(key) + "=" + Text(value) + "\r\n";
    const auto span = FindSection(contents, lines, section);
    if (!span) {
        Bytes result(contents);
        if (!result.empty() && result.back() != '\n') {
            result += LineEndFor(result);
        }
        result += '[';
        result += section;
        result += "]\r\n";
        result += entryLine;
        return result;
    }
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto entry = KeyOf(LineText(contents, lines[i]));
        if (entry && IniNamesEqual(entry->first, key)) {
            // The key keeps the spelling the file gives it.
            return Bytes(contents.substr(0, lines[i].begin)) + Text(entry->first) + "=" + Text(value) + "\r\n" +
                   Bytes(contents.substr(lines[i].next));
        }
    }
    // A new key goes behind the last non-blank line of its section, so blank lines that separate
    // it from the next section stay where they are.
    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (!Trim(LineText(contents, lines[i])).empty()) {
            last = i;
        }
    }
    Bytes result(contents.substr(0, lines[last].next));
    if (!lines[last].terminated) {
        result += LineEndFor(result);
    }
    result += entryLine;
    result += contents.substr(lines[last].next);
    return result;
}

Text ReadIniValue(const Text& path, const Text& section, const Text& key) {
    if (SkipLeadingControls(path).empty()) {
        return {};
    }
    const IniRead read = ReadIniDocument(Text(SkipLeadingControls(path)));
    const std::optional<Text> value = read ? read->Value(section, key) : std::nullopt;
    return value ? CutToIniReadBuffer(*value) : Text();
}

Result<void> WriteIniValue(const Text& path, const Text& section, const Text& key, const Text& value,
                           unsigned newFileMode) {
    if (std::optional<Text> refusal = RefusalOf(SkipLeadingControls(section), SkipLeadingControls(key), value)) {
        return Error{.kind = ErrorKind::kFile, .where = path, .reason = std::move(*refusal)};
    }
    IniRead read = ReadIniDocument(path);
    if (!read && read.error().kind != ErrorKind::kMissing) {
        return read.error();
    }
    IniDocument document = read ? std::move(*read) : IniDocument();
    static_cast<void>(document.Set(section, key, value));  // refused above if at all
    return WriteIniDocument(path, document, newFileMode);
}

bool IniValueIsWritable(std::string_view value) {
    return !HasLineBreak(value);
}

}  // namespace qj

#include "settings/ini_file.h"

#include <cerrno>
#include <vector>

#include "text/ascii.h"
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

// Cuts a value to what the read buffer holds, without splitting a double-byte character.
Text CutToReadBuffer(std::string_view value) {
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

}  // namespace

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
    const std::string_view file = SkipLeadingControls(path);
    const std::string_view sectionName = SkipLeadingControls(section);
    const std::string_view keyName = SkipLeadingControls(key);
    if (file.empty() || sectionName.empty() || keyName.empty()) {
        return {};
    }
    const std::optional<Bytes> contents = ReadFileBytes(Text(file));
    if (!contents) {
        return {};
    }
    const std::optional<Text> value = FindIniValue(*contents, sectionName, keyName);
    return value ? CutToReadBuffer(*value) : Text();
}

std::optional<FileError> WriteIniValue(const Text& path, const Text& section, const Text& key, const Text& value,
                                       unsigned newFileMode) {
    const std::string_view sectionName = SkipLeadingControls(section);
    const std::string_view keyName = SkipLeadingControls(key);
    if (!IniValueIsWritable(value)) {
        return FileError{path, "值中含有换行符，写入会破坏配置文件"};
    }
    if (sectionName.empty() || keyName.empty() || HasLineBreak(sectionName) || HasLineBreak(keyName) ||
        sectionName.find(']') != std::string_view::npos || keyName.find('=') != std::string_view::npos) {
        return FileError{path, "节名或键名不合规（为空，或含换行符、\"]\"、\"=\"），写入会破坏配置文件"};
    }
    int readError = 0;
    std::optional<Bytes> contents = ReadFileBytes(path, &readError);
    if (!contents) {
        if (readError != ENOENT) {
            return FileError{path, SystemReason(readError)};
        }
        contents.emplace();
    }
    // Settings files hold API keys: whatever a file's permissions were (it may have been made by
    // hand, readable by everyone), a write leaves it no more open than a new file would be.
    if (std::optional<FileError> failure = NarrowPermissions(path, newFileMode)) {
        return failure;
    }
    return ReplaceFileContents(path, SetIniValue(*contents, sectionName, keyName, value), newFileMode);
}

bool IniValueIsWritable(std::string_view value) {
    return !HasLineBreak(value);
}

}  // namespace qj

#include "publishing/article.h"

#include <array>
#include <optional>

#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

constexpr std::size_t kHashTagLength = 9;  // "~" and 8 hex digits

bool IsHexDigits(std::string_view text) {
    for (char c : text) {
        if (HexDigitValue(static_cast<unsigned char>(c)) < 0) {
            return false;
        }
    }
    return true;
}

// What ends a sentence, and what may close a quotation or bracket behind it.
constexpr std::array<std::string_view, 15> kSentenceEnds = {"。", "！", "？", "；", "，", "：", "…", "、",
                                                            "．", ".", "!", "?", ";", ",", ":"};
constexpr std::array<std::string_view, 9> kClosers = {"”", "’", "」", "』", "）", "》", "\"", "'", ")"};

std::string_view WithoutClosers(std::string_view line) {
    for (bool again = true; again;) {
        again = false;
        for (std::string_view closer : kClosers) {
            if (line.size() > closer.size() && line.ends_with(closer)) {
                line.remove_suffix(closer.size());
                again = true;
            }
        }
    }
    return line;
}

int CharacterCount(std::string_view text) {
    int count = 0;
    for (std::size_t i = 0; i < text.size(); i += GbkUnitLength(text, i)) {
        ++count;
    }
    return count;
}

std::string_view StripPrefix(std::string_view text, std::string_view prefix) {
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// The title a line holds: heading marks, bold marks and a "标题：" in front dropped.
Text TitleOfLine(std::string_view line) {
    Text text = TrimSpaces(line);
    std::string_view view = text;
    while (view.starts_with("#")) {
        view.remove_prefix(1);
    }
    view = StripPrefix(StripPrefix(TrimAscii(view, kSpaceAndTab), "标题："), "标题:");
    if (view.size() > 4 && view.starts_with("**") && view.ends_with("**")) {
        view = view.substr(2, view.size() - 4);
    }
    return TrimSpaces(TrimAscii(view, kSpaceAndTab));
}

// The text inside an element that is the whole line ("<p>text</p>"), or nullopt.
std::optional<Text> InnerText(std::string_view line, std::string_view tag) {
    const Text open = "<" + Text(tag) + ">";
    const Text close = "</" + Text(tag) + ">";
    if (line.size() >= open.size() + close.size() && FindText(line, open, 0, true) == 0 &&
        FindText(line, close, line.size() - close.size(), true) == line.size() - close.size()) {
        return Text(line.substr(open.size(), line.size() - open.size() - close.size()));
    }
    return std::nullopt;
}

bool IsElement(std::string_view line) {
    return line.starts_with("<") && line.ends_with(">");
}

}  // namespace

Text KeywordOfFile(std::string_view fileName) {
    std::string_view name = fileName;
    if (name.size() > 4 && FindText(name, ".txt", name.size() - 4, true) == name.size() - 4) {
        name.remove_suffix(4);
    }
    if (name.size() > kHashTagLength && name[name.size() - kHashTagLength] == '~' &&
        IsHexDigits(name.substr(name.size() - kHashTagLength + 1))) {
        // A "~" that is the second byte of a double-byte character is no tag.
        std::size_t i = 0;
        while (i < name.size() - kHashTagLength) {
            i += GbkUnitLength(name, i);
        }
        if (i == name.size() - kHashTagLength) {
            name.remove_suffix(kHashTagLength);
        }
    }
    return Text(name);
}

bool ReadsAsTitle(std::string_view line) {
    const Text title = TitleOfLine(line);
    if (title.empty() || CharacterCount(title) > kMaxTitleCharacters) {
        return false;
    }
    const std::string_view core = WithoutClosers(title);
    for (std::string_view end : kSentenceEnds) {
        if (core.ends_with(end)) {
            // A single byte that matched the second half of a double-byte character is no ending.
            std::size_t i = 0;
            while (i < core.size() - end.size()) {
                i += GbkUnitLength(core, i);
            }
            if (i == core.size() - end.size()) {
                return false;
            }
        }
    }
    return true;
}

Article MakeArticle(std::string_view file, std::string_view keyword, std::string_view content) {
    Article article{Text(file), Text(keyword), Text(keyword), {}};
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) {
            end = content.size();
        }
        std::string_view line = content.substr(start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!TrimAscii(TrimSpaces(line), " \t").empty()) {
            lines.push_back(line);
        }
        start = end + 1;
    }

    std::size_t first = 0;
    if (lines.size() > 1) {
        const Text head = TrimSpaces(TrimAscii(lines.front(), kSpaceAndTab));
        if (const std::optional<Text> heading = InnerText(head, "h1")) {
            article.title = TitleOfLine(*heading);
            first = 1;
        } else {
            const Text candidate = InnerText(head, "p").value_or(head);
            if (ReadsAsTitle(candidate)) {
                article.title = TitleOfLine(candidate);
                first = 1;
            }
        }
    }
    if (article.title.empty()) {
        article.title = Text(keyword);
    }
    for (std::size_t k = first; k < lines.size(); ++k) {
        const std::string_view line = TrimAscii(lines[k], kSpaceAndTab);
        if (IsElement(line)) {
            article.html.append(line);
            article.html.append("\r\n");
        } else {
            article.html += "<p>" + Text(lines[k]) + "</p>\r\n";
        }
    }
    return article;
}

}  // namespace qj::publishing

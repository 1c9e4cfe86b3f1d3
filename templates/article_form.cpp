#include "templates/article_form.h"

#include <array>

#include "templates/blanks.h"
#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

bool StripPrefix(std::string_view& text, std::string_view prefix, bool ignoreCase = false) {
    if (FindText(text.substr(0, prefix.size()), prefix, 0, ignoreCase) == 0) {
        text.remove_prefix(prefix.size());
        return true;
    }
    return false;
}

// A list number in front: "1. ", "2、", "3)" or "3）".
bool StripListNumber(std::string_view& text) {
    std::size_t digits = 0;
    while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    for (const std::string_view mark : {".", ")", "\xA1\xA2", "\xA3\xA9"}) {  // 、 ）
        if (text.substr(digits).starts_with(mark)) {
            text.remove_prefix(digits + mark.size());
            return true;
        }
    }
    return false;
}

struct Pair {
    std::string_view open;
    std::string_view close;
};
constexpr std::array kEnclosing{
    Pair{"\xA1\xB6", "\xA1\xB7"},  // 《》
    Pair{"\xA1\xB0", "\xA1\xB1"},  // “”
    Pair{"\xA1\xB8", "\xA1\xB9"},  // 「」
    Pair{"\xA1\xBA", "\xA1\xBB"},  // 『』
    Pair{"\"", "\""},
    Pair{"**", "**"},
    Pair{"*", "*"},
};

std::string_view CleanTitleLine(std::string_view line) {
    std::string_view text = TrimBlanks(line);
    for (bool changed = true; changed && !text.empty();) {
        changed = false;
        while (text.starts_with('#')) {
            text.remove_prefix(1);
            changed = true;
        }
        text = TrimBlanks(text);
        changed |= StripListNumber(text);
        text = TrimBlanks(text);
        for (const std::string_view label : {"\xB1\xEA\xCC\xE2", "\xCC\xE2\xC4\xBF", "Title"}) {  // 标题 题目
            std::string_view rest = text;
            if (StripPrefix(rest, label, true)) {
                rest = TrimBlanks(rest);
                if (StripPrefix(rest, "\xA3\xBA") || StripPrefix(rest, ":")) {  // ：
                    text = TrimBlanks(rest);
                    changed = true;
                }
            }
        }
        for (const Pair& pair : kEnclosing) {
            if (text.size() > pair.open.size() + pair.close.size() && text.starts_with(pair.open) &&
                EndsWithWhole(text, pair.close)) {
                text = TrimBlanks(text.substr(pair.open.size(), text.size() - pair.open.size() - pair.close.size()));
                changed = true;
            }
        }
        for (const std::string_view stop : {"\xA1\xA3", "."}) {  // 。
            if (EndsWithWhole(text, stop)) {
                text = TrimBlanks(text.substr(0, text.size() - stop.size()));
                changed = true;
            }
        }
    }
    return text;
}

// The first line of `text` that holds more than blanks, and where the text behind it begins.
std::string_view FirstLineWithText(std::string_view text, std::size_t* behind = nullptr) {
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = FindLineBreak(text, from);
        const std::string_view line = text.substr(from, end - from);
        std::size_t next = end;
        while (next < text.size() && (text[next] == '\r' || text[next] == '\n')) {
            ++next;
        }
        if (!TrimBlanks(line).empty()) {
            if (behind) {
                *behind = next;
            }
            return line;
        }
        from = next;
    }
    if (behind) {
        *behind = text.size();
    }
    return {};
}

}  // namespace

Text TitleFromReply(std::string_view reply) {
    return Text(CleanTitleLine(FirstLineWithText(reply)));
}

Text BodyWithoutTitleLine(const Text& title, const Text& body) {
    std::size_t behind = 0;
    const std::string_view first = FirstLineWithText(body, &behind);
    if (!title.empty() && CleanTitleLine(first) == title) {
        return body.substr(behind);
    }
    return body;
}

Text PlainArticleWithTitle(const Text& title, const Text& body) {
    return title + "\r\n" + BodyWithoutTitleLine(title, body);
}

Text HtmlTitleHeading(const Text& title) {
    return "<h1>" + title + "</h1>\r\n";
}

Text FinishArticle(const std::optional<Text>& title, const Text& text, ParagraphForm paragraphs, const LinkSet& links,
                   const LinkRules& rules) {
    const Text body = title ? BodyWithoutTitleLine(*title, text) : text;
    if (paragraphs) {
        const Text html = (title ? HtmlTitleHeading(*title) : Text()) + paragraphs(body);
        return WithLinks(html, ChooseLinksInHtml(html, links, rules), links);
    }
    const Text related = RelatedReading(ChooseLinksInText(body, links, rules), links);
    Text article = title ? *title + "\r\n" + body : body;
    if (!related.empty()) {
        article += "\r\n\r\n" + related;
    }
    return article;
}

}  // namespace qj

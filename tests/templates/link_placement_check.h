#pragma once

// The rules of internal links, checked from the outside: given an article before and after links
// were placed, what must hold whatever the article. Shared by the property test and the fuzz
// target; written apart from the placer so that it does not share its mistakes.

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qj::testing {

struct CheckedLink {
    std::string anchor;  // GBK
    std::string url;
};

namespace link_check {

inline bool Lead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
inline bool Trail(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}
inline std::size_t Unit(std::string_view s, std::size_t i) {
    return Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && Trail(static_cast<unsigned char>(s[i + 1]))
               ? 2
               : 1;
}
inline bool Word(std::string_view s, std::size_t i, std::size_t unit) {
    const char c = s[i];
    return unit == 1 && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
}
inline char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
// An attribute value as written back to the text it stands for.
inline std::string Unescaped(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        bool replaced = false;
        for (const auto& [reference, c] :
             {std::pair<std::string_view, char>{"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}}) {
            if (!replaced && value.substr(i).starts_with(reference)) {
                text.push_back(c);
                i += reference.size() - 1;
                replaced = true;
            }
        }
        if (!replaced) {
            text.push_back(value[i]);
        }
    }
    return text;
}

inline std::string Trimmed(std::string s) {
    auto blank = [](std::string_view t, bool front) {
        if (t.empty()) {
            return std::size_t{0};
        }
        if (front ? (t.starts_with("\xA1\xA1")) : (t.size() >= 2 && t.ends_with("\xA1\xA1"))) {
            return std::size_t{2};
        }
        const char c = front ? t.front() : t.back();
        return (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') ? std::size_t{1}
                                                                                           : std::size_t{0};
    };
    for (std::size_t n; (n = blank(s, true)) > 0;) {
        s.erase(0, n);
    }
    for (std::size_t n; (n = blank(s, false)) > 0;) {
        s.erase(s.size() - n);
    }
    return s;
}

// Whether two texts are the same, ASCII letters that are characters of their own without case.
inline bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t unit = Unit(a, i);
        if (unit != Unit(b, i)) {
            return false;
        }
        for (std::size_t k = 0; k < unit; ++k) {
            if ((unit == 1 ? Lower(a[i]) : a[i + k]) != (unit == 1 ? Lower(b[i]) : b[i + k])) {
                return false;
            }
        }
        i += unit;
    }
    return true;
}

// Per byte of an HTML text: 1 where a link may begin and run, 0 inside markup and inside the
// elements closed to links; also whether a byte begins a character.
struct Map {
    std::vector<char> open;
    std::vector<char> start;
    std::vector<std::string> hrefs;  // of the links the text has
};

// The href attribute of a tag, its attributes read as a browser reads them.
inline std::optional<std::string> Href(std::string_view tag) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t i = 1;
    while (i < tag.size() && !blank(tag[i]) && tag[i] != '/' && tag[i] != '>') {
        ++i;
    }
    for (;;) {
        while (i < tag.size() && (blank(tag[i]) || tag[i] == '/')) {
            ++i;
        }
        std::string name;
        while (i < tag.size() && !blank(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/') {
            name.push_back(Lower(tag[i++]));
        }
        if (name.empty()) {
            return std::nullopt;
        }
        while (i < tag.size() && blank(tag[i])) {
            ++i;
        }
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && blank(tag[i])) {
                ++i;
            }
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                const char quote = tag[i++];
                while (i < tag.size() && tag[i] != quote) {
                    value.push_back(tag[i++]);
                }
                ++i;
            } else {
                while (i < tag.size() && !blank(tag[i]) && tag[i] != '>') {
                    value.push_back(tag[i++]);
                }
            }
        }
        if (name == "href") {
            return value;
        }
    }
}

inline Map MapOf(std::string_view html) {
    Map map{std::vector<char>(html.size(), 0), std::vector<char>(html.size(), 0), {}};
    for (std::size_t i = 0; i < html.size(); i += Unit(html, i)) {
        map.start[i] = 1;
    }
    int closed = 0;
    static const std::set<std::string> kClosed{"a", "h1", "h2", "h3", "h4", "h5", "h6", "script", "style", "title"};
    std::map<std::string, int> openCount;
    for (std::size_t i = 0; i < html.size();) {
        const unsigned char next = i + 1 < html.size() ? static_cast<unsigned char>(html[i + 1]) : 0;
        const bool markup = html[i] == '<' && (next == '/' || next == '!' || next == '?' || std::isalpha(next));
        if (!markup) {
            if (map.start[i]) {
                const std::size_t unit = Unit(html, i);
                for (std::size_t k = 0; k < unit; ++k) {
                    map.open[i + k] = closed == 0;
                }
                i += unit;
            } else {
                ++i;
            }
            continue;
        }
        std::size_t end;
        if (html.substr(i).starts_with("<!--")) {
            const std::size_t close = html.find("-->", i + 4);
            end = close == std::string_view::npos ? html.size() : close + 3;
        } else {
            end = i + 1;
            char quote = 0;
            while (end < html.size() && (quote || html[end] != '>')) {
                if (quote && html[end] == quote) {
                    quote = 0;
                } else if (!quote && (html[end] == '"' || html[end] == '\'')) {
                    quote = html[end];
                }
                ++end;
            }
            end = std::min(end + 1, html.size());
        }
        const std::string_view tag = html.substr(i, end - i);
        const bool closing = tag.size() > 1 && tag[1] == '/';
        std::string name;
        for (std::size_t k = closing ? 2 : 1;
             k < tag.size() && !std::isspace(static_cast<unsigned char>(tag[k])) && tag[k] != '/' && tag[k] != '>';
             ++k) {
            name.push_back(Lower(tag[k]));
        }
        if (name == "a" && !closing) {
            if (const std::optional<std::string> href = Href(tag)) {
                map.hrefs.push_back(*href);
            }
        }
        if (kClosed.count(name) && !tag.ends_with("/>")) {
            int& n = openCount[name];
            n = closing ? std::max(0, n - 1) : n + 1;
            closed = 0;
            for (const auto& [ignored, count] : openCount) {
                closed += count;
            }
        }
        i = end;
    }
    return map;
}

// Whether text from `at` to `end` begins or ends inside an ASCII word of the open text.
inline bool CutsWord(std::string_view text, const Map& map, std::size_t at, std::size_t end) {
    std::size_t prev = at;
    for (std::size_t k = 0; k < at; k += Unit(text, k)) {
        prev = k;
    }
    std::size_t last = at;
    for (std::size_t k = at; k < end; k += Unit(text, k)) {
        last = k;
    }
    return (at > 0 && map.open[prev] && Word(text, prev, Unit(text, prev)) && Word(text, at, Unit(text, at))) ||
           (end < text.size() && map.open[end] && Word(text, last, end - last) && Word(text, end, Unit(text, end)));
}

}  // namespace link_check

// What breaks the rules when `before` became `after` with at most `maxLinks` links to `links`,
// none for `keyword`; empty when nothing does. `after` is `before`
// with "<a href="URL">" and "</a>" around some of its text and nothing else changed; each such text
// is an anchor of a link to that URL, in the open text (outside markup, headings, links, scripts,
// styles, titles), beginning on a character, cutting no ASCII word; no URL twice, none the article
// linked to already, no anchor that is the keyword; and while fewer than maxLinks were placed, no other usable anchor
// (one that cuts no ASCII word) lies wholly in the open text apart from the placed ones.
inline std::vector<std::string> LinkRuleBreaks(std::string_view before, std::string_view after,
                                               const std::vector<CheckedLink>& links, const std::string& keyword,
                                               int maxLinks) {
    using namespace link_check;
    std::vector<std::string> breaks;
    struct Span {
        std::size_t at, end;
        std::string url;
    };
    std::vector<Span> spans;
    std::size_t i = 0;
    std::size_t j = 0;
    const std::string_view open = "<a href=\"";
    for (;;) {
        if (after.substr(j).starts_with(open)) {
            const std::size_t tagEnd = after.find('>', j);
            const std::string_view tag =
                after.substr(j, tagEnd == std::string_view::npos ? after.size() - j : tagEnd + 1 - j);
            if (!before.substr(i).starts_with(tag)) {
                // A link placed here: its tag, the article's text, its end tag.
                if (!tag.ends_with("\">")) {
                    breaks.push_back("a link tag that does not close");
                    return breaks;
                }
                Span span{i, i, Unescaped(tag.substr(open.size(), tag.size() - open.size() - 2))};
                j += tag.size();
                while (j < after.size() && !after.substr(j).starts_with("</a>") && i < before.size() &&
                       before[i] == after[j]) {
                    ++i;
                    ++j;
                }
                if (!after.substr(j).starts_with("</a>")) {
                    breaks.push_back("a placed link whose text differs from the article's or does not end");
                    return breaks;
                }
                j += 4;
                span.end = i;
                spans.push_back(span);
                continue;
            }
        }
        if (i == before.size() && j == after.size()) {
            break;
        }
        if (i < before.size() && j < after.size() && before[i] == after[j]) {
            ++i;
            ++j;
            continue;
        }
        breaks.push_back("the article changed beyond the links, at byte " + std::to_string(i));
        return breaks;
    }

    const Map map = MapOf(before);
    if (static_cast<int>(spans.size()) > maxLinks) {
        breaks.push_back("more links than allowed: " + std::to_string(spans.size()));
    }
    std::set<std::string> used(map.hrefs.begin(), map.hrefs.end());
    for (const Span& span : spans) {
        const std::string_view text = before.substr(span.at, span.end - span.at);
        if (used.count(span.url)) {
            breaks.push_back("a second link to " + span.url);
        }
        used.insert(span.url);
        const bool isLink = std::any_of(links.begin(), links.end(), [&](const CheckedLink& l) {
            return l.url == span.url && SameText(Trimmed(l.anchor), text);
        });
        if (!isLink || text.empty()) {
            breaks.push_back("a link whose text is no anchor of its URL: " + std::string(text));
        }
        if (SameText(Trimmed(keyword), text)) {
            breaks.push_back("a link for the article's own keyword");
        }
        if (!map.start[span.at]) {
            breaks.push_back("a link that begins inside a character");
        } else if (CutsWord(before, map, span.at, span.end)) {
            breaks.push_back("a link that cuts an ASCII word: " + std::string(text));
        }
        for (std::size_t k = span.at; k < span.end; ++k) {
            if (!map.open[k]) {
                breaks.push_back("a link inside markup, a heading or a link, at byte " + std::to_string(k));
                break;
            }
        }
    }
    if (static_cast<int>(spans.size()) >= maxLinks) {
        return breaks;
    }
    // Nothing left out that could have been placed.
    for (const CheckedLink& link : links) {
        const std::string anchor = Trimmed(link.anchor);
        // (A URL the article names anywhere may be one it links to in a way this check does not read.)
        if (anchor.empty() || used.count(link.url) || before.find(link.url) != std::string_view::npos ||
            SameText(Trimmed(keyword), anchor)) {
            continue;
        }
        for (std::size_t at = 0; at + anchor.size() <= before.size(); ++at) {
            if (!map.start[at] || !SameText(before.substr(at, anchor.size()), anchor)) {
                continue;
            }
            const std::size_t end = at + anchor.size();
            if (end < before.size() && !map.start[end]) {
                continue;
            }
            bool allOpen = true;
            for (std::size_t k = at; k < end; ++k) {
                allOpen = allOpen && map.open[k];
            }
            if (!allOpen) {
                continue;
            }
            if (CutsWord(before, map, at, end)) {
                continue;
            }
            const bool overlaps =
                std::any_of(spans.begin(), spans.end(), [&](const Span& s) { return s.at < end && at < s.end; });
            if (!overlaps) {
                breaks.push_back("an anchor left out though room was left: " + anchor);
                break;
            }
        }
    }
    return breaks;
}

}  // namespace qj::testing

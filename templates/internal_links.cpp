#include "templates/internal_links.h"

#include <algorithm>
#include <array>
#include <optional>

#include "templates/blanks.h"
#include "templates/html_scan.h"
#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::uint32_t kNoNode = 0xFFFFFFFF;

bool IsAsciiWordByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The byte as the tree holds it: an ASCII letter that is a character of its own in lower case.
unsigned char Folded(std::string_view text, std::size_t i, std::size_t unit) {
    const char c = text[i];
    return static_cast<unsigned char>(unit == 1 ? LowerAscii(c) : c);
}

// A character (a unit of one or two bytes) as one number below kUnitCount, folded as above.
constexpr std::uint32_t kUnitCount = 0x20000;
std::uint32_t UnitKey(std::string_view text, std::size_t i, std::size_t unit) {
    return unit == 1 ? Folded(text, i, 1)
                     : 0x10000 | (std::uint32_t{static_cast<unsigned char>(text[i])} << 8) |
                           static_cast<unsigned char>(text[i + 1]);
}

// The slot of two characters in the filter of the anchors' first two characters.
constexpr std::size_t kPairSlots = std::size_t{1} << 20;
std::size_t PairSlot(std::uint32_t first, std::uint32_t second) {
    return ((std::uint64_t{first} * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t{second} * 0xC2B2AE3D27D4EB4Full)) >> 44;
}

// An anchor compared with the keyword: blanks around dropped, ASCII letters in lower case.
Text Comparable(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    Text folded;
    folded.reserve(trimmed.size());
    for (std::size_t i = 0; i < trimmed.size();) {
        const std::size_t unit = GbkUnitLength(trimmed, i);
        for (std::size_t k = 0; k < unit; ++k) {
            folded.push_back(static_cast<char>(Folded(trimmed, i + k, unit)));
        }
        i += unit;
    }
    return folded;
}

// Elements whose text takes no link: headings, links, and what a reader does not see as text.
constexpr std::array<std::string_view, 10> kClosedToLinks{"a",  "h1", "h2",     "h3",    "h4",
                                                          "h5", "h6", "script", "style", "title"};

class Chooser {
public:
    Chooser(const LinkSet& links, const LinkRules& rules)
        : links_(links), rules_(rules), keyword_(Comparable(rules.ownKeyword)), urlUsed_(links.UrlCount(), false) {}

    bool Full() const { return static_cast<int>(placed_.size()) >= rules_.maxLinks; }

    void UrlAlreadyLinked(std::string_view url) {
        if (const std::optional<std::size_t> id = links_.UrlIdOf(url)) {
            urlUsed_[*id] = true;
        }
    }

    // Places links in the text between `from` and `to`, where links may go.
    void Scan(std::string_view text, std::size_t from, std::size_t to) {
        bool wordBefore = false;  // the character in front is an ASCII letter or digit
        for (std::size_t i = from; i < to && !Full();) {
            const std::size_t length = Place(text, i, to, wordBefore);
            const std::size_t step = length > 0 ? length : GbkUnitLength(text, i);
            wordBefore = EndsWithWordByte(text, i, i + step);
            i += step;
        }
    }

    std::vector<PlacedLink> Placed() && { return std::move(placed_); }

private:
    // Whether the last character of the text between `start` and `end` (whole characters) is an
    // ASCII letter or digit.
    static bool EndsWithWordByte(std::string_view text, std::size_t start, std::size_t end) {
        std::size_t last = start;
        for (std::size_t i = start; i < end; i += GbkUnitLength(text, i)) {
            last = i;
        }
        return end - last == 1 && IsAsciiWordByte(static_cast<unsigned char>(text[last]));
    }

    // The length of the link placed at `at`; 0 when none goes there.
    std::size_t Place(std::string_view text, std::size_t at, std::size_t to, bool wordBefore) {
        links_.AnchorsAt(text, at, to, matches_);
        for (const LinkSet::Match& m : matches_) {
            const InternalLink& link = links_[m.link];
            const std::size_t url = links_.UrlIdOf(m.link);
            if (urlUsed_[url]) {
                continue;
            }
            const std::size_t end = at + m.length;
            const bool wordAtStart = EndsWithWordByte(text, at, at + GbkUnitLength(text, at));
            const bool wordAtEnd = EndsWithWordByte(text, at, end);
            const bool wordAfter = end < to && EndsWithWordByte(text, end, end + GbkUnitLength(text, end));
            if ((wordAtStart && wordBefore) || (wordAtEnd && wordAfter)) {
                continue;
            }
            if (!keyword_.empty() && Comparable(link.anchor) == keyword_) {
                continue;
            }
            urlUsed_[url] = true;
            placed_.push_back({m.link, at, m.length});
            return m.length;
        }
        return 0;
    }

    const LinkSet& links_;
    const LinkRules& rules_;
    const Text keyword_;
    std::vector<bool> urlUsed_;
    std::vector<PlacedLink> placed_;
    std::vector<LinkSet::Match> matches_;
};

// The URL as the value of an attribute.
Text AttributeValue(std::string_view url) {
    Text escaped;
    for (const char c : url) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

}  // namespace

LinkSet::LinkSet(std::vector<InternalLink> links) : firstUnits_(kUnitCount), firstPairs_(kPairSlots) {
    endingHere_.emplace_back();
    for (InternalLink& link : links) {
        link.anchor = Text(TrimBlanks(link.anchor));
        if (link.anchor.empty()) {
            continue;
        }
        const std::size_t index = links_.size();
        std::uint32_t node = 0;
        const std::string_view anchor = link.anchor;
        std::uint32_t first = 0;
        for (std::size_t i = 0; i < anchor.size();) {
            const std::size_t unit = GbkUnitLength(anchor, i);
            const std::uint32_t key = UnitKey(anchor, i, unit);
            if (i == 0) {
                firstUnits_[key] = true;
                first = key;
            } else if (i == GbkUnitLength(anchor, 0)) {
                firstPairs_[PairSlot(first, key)] = true;
            }
            const auto [edge, added] =
                edges_.try_emplace((std::uint64_t{node} << 17) | key, static_cast<std::uint32_t>(endingHere_.size()));
            if (added) {
                endingHere_.emplace_back();
            }
            node = edge->second;
            i += unit;
        }
        endingHere_[node].push_back(index);
        const auto [id, added] = urlIdByUrl_.try_emplace(link.url, urlCount_);
        if (added) {
            ++urlCount_;
        }
        urlIds_.push_back(id->second);
        links_.push_back(std::move(link));
    }
}

std::optional<std::size_t> LinkSet::UrlIdOf(std::string_view url) const {
    const auto found = urlIdByUrl_.find(std::string(url));
    if (found == urlIdByUrl_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::uint32_t LinkSet::Child(std::uint32_t node, std::uint32_t unitKey) const {
    const auto edge = edges_.find((std::uint64_t{node} << 17) | unitKey);
    return edge == edges_.end() ? kNoNode : edge->second;
}

void LinkSet::AnchorsAt(std::string_view text, std::size_t at, std::size_t end, std::vector<Match>& out) const {
    out.clear();
    if (links_.empty() || at >= end) {
        return;
    }
    // Most places of a text begin no anchor: two looks into small tables tell, before the tree.
    const std::size_t firstUnit = GbkUnitLength(text, at);
    const std::uint32_t first = UnitKey(text, at, firstUnit);
    if (at + firstUnit > end || !firstUnits_[first]) {
        return;
    }
    std::uint32_t node = 0;
    for (std::size_t i = at; i < end;) {
        const std::size_t unit = GbkUnitLength(text, i);
        if (i + unit > end) {
            break;
        }
        const std::uint32_t key = UnitKey(text, i, unit);
        if (i == at + firstUnit && !firstPairs_[PairSlot(first, key)]) {
            break;
        }
        node = Child(node, key);
        if (node == kNoNode) {
            break;
        }
        i += unit;
        for (const std::size_t link : endingHere_[node]) {
            out.push_back({link, i - at});
        }
    }
    // Longest first; the walk found them shortest first, each anchor's links in the set's order.
    std::stable_sort(out.begin(), out.end(), [](const Match& a, const Match& b) { return a.length > b.length; });
}

std::vector<PlacedLink> ChooseLinksInHtml(std::string_view html, const LinkSet& links, const LinkRules& rules) {
    Chooser chooser(links, rules);
    if (links.empty() || rules.maxLinks <= 0) {
        return {};
    }
    std::array<int, kClosedToLinks.size()> open{};
    auto closed = [&open] { return std::any_of(open.begin(), open.end(), [](int n) { return n > 0; }); };
    // Existing links count before any is placed: the article may link to a page further on.
    for (std::size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', i + 1)) {
        if (OpensMarkup(html, i)) {
            const std::size_t end = MarkupEnd(html, i);
            const std::string_view markup = html.substr(i, end - i);
            const Tag tag = ReadTag(markup);
            if (tag.name == "a" && !tag.closing) {
                chooser.UrlAlreadyLinked(AttributeOf(markup, "href").value_or(""));
            }
            i = end - 1;
        }
    }
    std::size_t i = 0;
    while (i < html.size() && !chooser.Full()) {
        std::size_t next = i;
        while (next < html.size() && !(html[next] == '<' && OpensMarkup(html, next))) {
            next += GbkUnitLength(html, next);
        }
        if (!closed()) {
            chooser.Scan(html, i, next);
        }
        if (next >= html.size()) {
            break;
        }
        const std::size_t end = MarkupEnd(html, next);
        const Tag tag = ReadTag(html.substr(next, end - next));
        const auto which = std::find(kClosedToLinks.begin(), kClosedToLinks.end(), tag.name);
        if (which != kClosedToLinks.end() && !tag.selfClosing) {
            int& depth = open[which - kClosedToLinks.begin()];
            depth = tag.closing ? std::max(0, depth - 1) : depth + 1;
        }
        i = end;
    }
    return std::move(chooser).Placed();
}

std::vector<PlacedLink> ChooseLinksInText(std::string_view text, const LinkSet& links, const LinkRules& rules) {
    Chooser chooser(links, rules);
    if (!links.empty() && rules.maxLinks > 0) {
        chooser.Scan(text, 0, text.size());
    }
    return std::move(chooser).Placed();
}

Text WithLinks(std::string_view html, const std::vector<PlacedLink>& placed, const LinkSet& links) {
    std::vector<PlacedLink> ordered = placed;
    std::sort(ordered.begin(), ordered.end(), [](const PlacedLink& a, const PlacedLink& b) { return a.at < b.at; });
    Text out;
    out.reserve(html.size() + placed.size() * 64);
    std::size_t from = 0;
    for (const PlacedLink& p : ordered) {
        out += html.substr(from, p.at - from);
        out += "<a href=\"" + AttributeValue(links[p.link].url) + "\">";
        out += html.substr(p.at, p.length);
        out += "</a>";
        from = p.at + p.length;
    }
    out += html.substr(from);
    return out;
}

Text RelatedReading(const std::vector<PlacedLink>& placed, const LinkSet& links) {
    if (placed.empty()) {
        return {};
    }
    Text section = "相关阅读：";
    for (const PlacedLink& p : placed) {
        section += "\r\n" + links[p.link].anchor + "：" + links[p.link].url;
    }
    return section;
}

}  // namespace qj

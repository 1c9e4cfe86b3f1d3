#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/types.h"

namespace qj {

// One of the user's own pages that articles may link to.
struct InternalLink {
    Text anchor;  // the text that becomes the link, as it appears in articles (GBK)
    Text url;     // ASCII: absolute, or a path of the site beginning with "/"
};

// The links of a run, looked up in an article in one pass however many there are: at each
// character the anchors that begin there are found by walking a tree of their characters, after
// two tables of the anchors' first characters have said that any may begin there. Anchors
// match whole characters, ASCII letters without regard to case, and an anchor that begins or ends
// with an ASCII letter or digit only where the text has no letter or digit next to it ("AI" is no
// link inside "EMAIL").
class LinkSet {
public:
    LinkSet() = default;
    // Links with an anchor of nothing but blanks are left out; blanks around an anchor are dropped.
    explicit LinkSet(std::vector<InternalLink> links);

    bool empty() const { return links_.empty(); }
    std::size_t size() const { return links_.size(); }
    const InternalLink& operator[](std::size_t i) const { return links_[i]; }

    // A number per distinct URL, for telling links to one page apart from others.
    std::size_t UrlIdOf(std::size_t link) const { return urlIds_[link]; }
    std::size_t UrlCount() const { return urlCount_; }
    // The URL's number when a link of the set goes there.
    std::optional<std::size_t> UrlIdOf(std::string_view url) const;

    struct Match {
        std::size_t link;
        std::size_t length;  // bytes of the article the anchor covers
    };
    // The links whose anchors begin at byte `at` of `text` (a character boundary) and end by
    // `end`, longest first; links with the same anchor in the order of the set. `out` is emptied first.
    void AnchorsAt(std::string_view text, std::size_t at, std::size_t end, std::vector<Match>& out) const;

private:
    std::uint32_t Child(std::uint32_t node, std::uint32_t unitKey) const;

    std::vector<InternalLink> links_;
    std::vector<std::size_t> urlIds_;
    std::size_t urlCount_ = 0;
    std::unordered_map<std::string, std::size_t> urlIdByUrl_;
    // The tree of anchors: node 0 is the root; an edge per character (ASCII letters in lower case).
    std::unordered_map<std::uint64_t, std::uint32_t> edges_;
    std::vector<std::vector<std::size_t>> endingHere_;  // per node: the links whose anchor ends there
    // Which characters begin an anchor, and (hashed, so a few too many) which pairs of characters.
    std::vector<bool> firstUnits_;
    std::vector<bool> firstPairs_;
};

// How many links an article gets at most, and the keyword it is about: no article links to its own
// keyword's page.
struct LinkRules {
    int maxLinks = 3;
    Text ownKeyword{};
};

struct PlacedLink {
    std::size_t link;    // in the set
    std::size_t at;      // byte offset of the anchor's text in the article
    std::size_t length;  // of that text
};

// The links an article in HTML form gets, in the order of the text: the first occurrence of an
// anchor outside tags becomes its link, never inside a heading (h1 to h6), an existing link, a
// script, a style or a title element; where anchors overlap, the one that begins first wins, and of
// those beginning at one place the longest. Never two links to one URL (a URL the article links
// to already counts), never a link whose anchor is the article's keyword, at most rules.maxLinks.
std::vector<PlacedLink> ChooseLinksInHtml(std::string_view html, const LinkSet& links, const LinkRules& rules);

// The same for an article in plain form: the whole text is open to links.
std::vector<PlacedLink> ChooseLinksInText(std::string_view text, const LinkSet& links, const LinkRules& rules);

// The HTML with each chosen anchor made a link: <a href="URL">anchor</a>.
Text WithLinks(std::string_view html, const std::vector<PlacedLink>& placed, const LinkSet& links);

// The section that lists the chosen links at the end of a plain article: a line 相关阅读：, then one
// line per link, "anchor：URL". Empty when there are none.
Text RelatedReading(const std::vector<PlacedLink>& placed, const LinkSet& links);

}  // namespace qj

#pragma once

#include <string_view>
#include <vector>

#include "templates/internal_links.h"
#include "text/types.h"

namespace qj {

// The readers of what the user names as the source of the internal links: a links file, a
// sitemap, and the web pages a sitemap lists. All of it is outside input: nothing in it may make a
// reader fail other than by finding nothing.

// A line of a links file that cannot be used, for the run log.
struct SkippedLine {
    int number = 0;  // 1-based
    Text reason;
};

struct LinkLines {
    std::vector<InternalLink> links;
    std::vector<SkippedLine> skipped;
};

// The links of a links file (its text in GBK): one "anchor URL" a line, the URL last, apart from
// the anchor by blanks (spaces, tabs, full-width spaces; the anchor may hold blanks of its own).
// Empty lines and lines that begin with "#" are none. A URL is http or https, or a path of the
// site that begins with "/"; it is made ASCII (see AsciiUrl).
LinkLines ReadLinkLines(std::string_view text);

// A URL in ASCII: bytes of 0x80 and above (of the UTF-8 form the caller gives), blanks, control
// bytes, quotation marks and angle brackets percent-encoded; everything else as written.
Text AsciiUrl(std::string_view url);

// Whether bytes are a sitemap (an XML document of <urlset> or <sitemapindex>) rather than a links file.
bool LooksLikeSitemap(std::string_view bytes);

struct SitemapPage {
    Text url;           // ASCII
    Text lastModified;  // as written; empty when not given
    Text title;         // GBK, when the entry names its page's title (news:title); else empty
};

struct Sitemap {
    std::vector<SitemapPage> pages;
    std::vector<Text> sitemaps;  // the sitemaps a sitemap index lists (ASCII URLs)
};

// The pages (or, for an index, the sitemaps) a sitemap lists, in order, each URL once.
Sitemap ReadSitemap(std::string_view xml);

// The title of a web page in GBK: its og:title when it has one, else its <title>; blanks and line
// breaks inside become one space; empty when it has neither. The charset comes from the reply's
// Content-Type, else from the page's <meta>, else the bytes decide (UTF-8 when they are that, else GBK).
Text PageTitle(std::string_view html, std::string_view contentType = {});

// Titles without the site's name that they end with: a part behind the last separator ("-", "_",
// "|", and their full-width forms, blanks around them or not) that at least two titles, and at
// least half of those with a separator, end with is dropped with its separator.
void DropSharedSiteName(std::vector<Text>& titles);

}  // namespace qj

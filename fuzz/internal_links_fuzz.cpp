// libFuzzer target: the sources of internal links and their placement. Properties: a links file's
// links have an anchor and an ASCII URL without blanks, quotation marks or angle brackets; a
// sitemap's pages are http or https URLs in ASCII, each once; a page's title is one line; the links
// placed into any HTML keep every rule of placement (tests/templates/link_placement_check.h): the
// text otherwise unchanged, only open text linked, never inside markup, a heading or a link, no URL
// twice, not the keyword, at most the number asked for, and no usable anchor left out while room
// is left; a title taken from a reply is taken again unchanged from itself.
#include <algorithm>
#include <cctype>
#include <set>

#include "fuzz_support.h"
#include "link_placement_check.h"
#include "templates/article_form.h"
#include "templates/internal_links.h"
#include "templates/link_sources.h"

namespace {

using qj::fuzz::Shown;

bool IsCleanUrl(const qj::Text& url) {
    for (const char c : url) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>') {
            return false;
        }
    }
    return !url.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string linksFile = input.ConsumeRandomLengthString(2000);
    const std::string keyword = input.ConsumeRandomLengthString(40);
    const int maxLinks = input.ConsumeIntegralInRange(0, 8);
    const std::string html = input.ConsumeRemainingBytesAsString();

    const qj::LinkLines lines = qj::ReadLinkLines(linksFile);
    std::vector<qj::testing::CheckedLink> checked;
    for (const qj::InternalLink& link : lines.links) {
        QJ_FUZZ_CHECK(!link.anchor.empty() && IsCleanUrl(link.url), "links file " + Shown(linksFile));
        checked.push_back({link.anchor, link.url});
    }
    const qj::LinkSet links(lines.links);
    const qj::LinkRules rules{.maxLinks = maxLinks, .ownKeyword = keyword};
    const qj::Text after = qj::WithLinks(html, qj::ChooseLinksInHtml(html, links, rules), links);
    const std::vector<std::string> breaks = qj::testing::LinkRuleBreaks(html, after, checked, keyword, maxLinks);
    QJ_FUZZ_CHECK(breaks.empty(), (breaks.empty() ? std::string() : breaks.front()) + "\nlinks " + Shown(linksFile) +
                                      "\nkeyword " + Shown(keyword) + "\narticle " + Shown(html) + "\nbecame " +
                                      Shown(after));

    const qj::Sitemap sitemap = qj::ReadSitemap(html);
    std::set<std::string> seen;
    for (const qj::SitemapPage& page : sitemap.pages) {
        std::string scheme = page.url.substr(0, page.url.find(':'));
        std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
        QJ_FUZZ_CHECK(IsCleanUrl(page.url) && (scheme == "http" || scheme == "https") && seen.insert(page.url).second,
                      "sitemap " + Shown(html) + " gives page " + Shown(page.url));
    }
    const qj::Text title = qj::PageTitle(html);
    QJ_FUZZ_CHECK(title.find_first_of("\t\r\n") == qj::Text::npos,
                  "page " + Shown(html) + " has title " + Shown(title));

    const qj::Text cleaned = qj::TitleFromReply(html);
    QJ_FUZZ_CHECK(qj::TitleFromReply(cleaned) == cleaned, "reply " + Shown(html) + " gives title " + Shown(cleaned));
    return 0;
}

#pragma once

#include <atomic>
#include <functional>
#include <string_view>
#include <vector>

#include "templates/internal_links.h"
#include "text/types.h"

namespace qj {

// Where the titles of pages read from sitemaps are kept between runs, below the program folder:
// "URL<TAB>lastmod<TAB>title" lines, GBK. A page is read again when its sitemap entry gives another
// lastmod; deleting the file has every page read again.
inline constexpr std::string_view kPageTitlesTail =
    "OpenAi/\xC4\xDA\xC1\xB4\xB1\xEA\xCC\xE2.txt";  // OpenAi/内链标题.txt

struct LinkLoading {
    Text programFolder;                         // a relative file name starts here
    std::function<void(const Text&)> log;       // lines for the run log (GBK)
    const std::atomic<bool>* cancel = nullptr;  // gives up reading pages when it turns true
    int workers = 8;                            // pages read at once
    int timeoutSeconds = 30;                    // per page and sitemap, without a byte moved
};

struct LoadedLinks {
    std::vector<InternalLink> links;
    Text error;  // why the source cannot be used, for the run log; empty when it can
};

// Reads the links a run places: `source` names a links file, a sitemap file, or the URL of either
// (told apart by their content). A sitemap's pages give their titles as anchors: a title in the
// entry itself, else the page's, read over HTTP (a sitemap index's sitemaps too) with the titles
// of earlier runs kept (kPageTitlesTail); the site's name that the titles share is dropped. Lines
// of a links file that cannot be used and pages that cannot be read are logged and left out. An
// error when the source cannot be read or yields no link at all.
LoadedLinks LoadInternalLinks(const Text& source, const LinkLoading& how);

}  // namespace qj

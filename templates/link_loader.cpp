#include "templates/link_loader.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "http/header_block.h"
#include "http/http_request.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "settings/ini_file.h"
#include "templates/link_sources.h"
#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// A sitemap index may list many sitemaps, each up to 50,000 pages; more than this is no site's own
// set of pages worth linking from every article.
constexpr std::size_t kMaxSitemaps = 1000;
constexpr std::size_t kMaxPages = 50000;

void Log(const LinkLoading& how, const Text& line) {
    if (how.log) {
        how.log(line);
    }
}

bool IsWebAddress(std::string_view source) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (FindText(source.substr(0, scheme.size()), scheme, 0, true) == 0) {
            return true;
        }
    }
    return false;
}

bool IsAbsolutePath(std::string_view path) {
    return path.starts_with('/') || path.starts_with('\\') ||
           (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])));
}

struct Fetched {
    Bytes body;
    Text contentType;
    Text error;  // empty when the reply was a success
};

Fetched Fetch(const Text& url, const LinkLoading& how) {
    Fetched fetched;
    HttpRequestParams params;
    params.url = url;
    params.method = 0;
    params.timeoutSeconds = how.timeoutSeconds;
    params.cancel = how.cancel;
    Result<HttpResponse> reply = HttpRequest(params);
    if (!reply) {
        fetched.error = reply.error().reason.empty() ? Text("没有收到回复") : reply.error().reason;
        return fetched;
    }
    if (reply->status != 200) {
        fetched.error = "HTTP " + std::to_string(reply->status);
    }
    for (const Text& line : SplitText(reply->headers, "\r\n")) {
        const Text name = HeaderName(line);
        if (name.size() == 12 && FindText(name, "content-type", 0, true) == 0) {
            fetched.contentType = HeaderValue(line);
        }
    }
    fetched.body = std::move(reply->body);
    return fetched;
}

struct CachedTitle {
    Text lastModified;
    Text title;
};

std::map<Text, CachedTitle> ReadTitleCache(const Text& path) {
    std::map<Text, CachedTitle> cache;
    const Result<Bytes> bytes = ReadFileOrEmpty(path);
    if (!bytes) {
        return cache;  // unreadable: every page is read again
    }
    for (const Text& line : SplitText(*bytes, "\r\n")) {
        const TextList fields = SplitText(line, "\t");
        if (fields.size() == 3 && !fields[2].empty()) {
            cache[fields[0]] = {fields[1], fields[2]};
        }
    }
    return cache;
}

// The pages' titles for this run's sitemaps; pages that could not be read have none.
class TitleReader {
public:
    TitleReader(const LinkLoading& how) : how_(how), cachePath_(how.programFolder + "/" + Text(kPageTitlesTail)) {}

    std::vector<Text> Titles(const std::vector<SitemapPage>& pages) {
        std::vector<Text> titles(pages.size());
        std::map<Text, CachedTitle> cache = ReadTitleCache(cachePath_);
        std::vector<std::size_t> toRead;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const auto cached = cache.find(pages[i].url);
            if (!pages[i].title.empty()) {
                titles[i] = pages[i].title;
            } else if (cached != cache.end() && cached->second.lastModified == pages[i].lastModified) {
                titles[i] = cached->second.title;
            } else {
                toRead.push_back(i);
            }
        }
        if (toRead.empty()) {
            return titles;
        }
        Log(how_, "内链：正在读取" + std::to_string(toRead.size()) + "个网页的标题……");
        std::atomic<std::size_t> next{0};
        std::mutex mutex;
        int failed = 0;
        Text example;
        auto work = [&] {
            for (std::size_t k = next++; k < toRead.size(); k = next++) {
                if (how_.cancel && how_.cancel->load()) {
                    return;
                }
                const SitemapPage& page = pages[toRead[k]];
                const Fetched fetched = Fetch(page.url, how_);
                const Text title = fetched.error.empty() ? PageTitle(fetched.body, fetched.contentType) : Text();
                std::lock_guard lock(mutex);
                if (title.empty()) {
                    if (++failed == 1) {
                        example = page.url + "：" + (fetched.error.empty() ? Text("网页没有标题") : fetched.error);
                    }
                    continue;
                }
                titles[toRead[k]] = title;
                cache[page.url] = {page.lastModified, title};
            }
        };
        std::vector<std::thread> helpers;
        const std::size_t workers = std::clamp<std::size_t>(static_cast<std::size_t>(how_.workers), 1, toRead.size());
        for (std::size_t w = 1; w < workers; ++w) {
            helpers.emplace_back(work);
        }
        work();
        for (std::thread& t : helpers) {
            t.join();
        }
        if (failed > 0) {
            Log(how_, "内链：" + std::to_string(failed) + "个网页没能读到标题，已跳过（例如 " + example + "）");
        }
        WriteTitleCache(cache);
        return titles;
    }

private:
    // A cache that cannot be written costs the next run the reading again, nothing else.
    void WriteTitleCache(const std::map<Text, CachedTitle>& cache) {
        Bytes bytes;
        for (const auto& [url, cached] : cache) {
            if (cached.title.find_first_of("\t\r\n") == Text::npos) {
                bytes += url + "\t" + cached.lastModified + "\t" + cached.title + "\r\n";
            }
        }
        const std::size_t slash = cachePath_.rfind('/');
        if (EnsureFolder(cachePath_.substr(0, slash))) {
            (void)ReplaceFileContents(cachePath_, bytes, 0644, false);
        }
    }

    const LinkLoading& how_;
    const Text cachePath_;
};

LoadedLinks FromSitemaps(Sitemap sitemap, const Text& source, const LinkLoading& how) {
    LoadedLinks loaded;
    // The sitemaps of an index, and of indexes it lists, each read once.
    std::set<Text> read{source};
    std::vector<SitemapPage> pages = std::move(sitemap.pages);
    std::vector<Text> pending = std::move(sitemap.sitemaps);
    while (!pending.empty() && read.size() <= kMaxSitemaps && pages.size() < kMaxPages) {
        const Text url = pending.front();
        pending.erase(pending.begin());
        if (!read.insert(url).second) {
            continue;
        }
        if (how.cancel && how.cancel->load()) {
            break;
        }
        const Fetched fetched = Fetch(url, how);
        if (!fetched.error.empty() || !LooksLikeSitemap(fetched.body)) {
            Log(how, "内链：sitemap " + url + " 读不了，已跳过：" +
                         (fetched.error.empty() ? Text("不是 sitemap") : fetched.error));
            continue;
        }
        Sitemap nested = ReadSitemap(fetched.body);
        pages.insert(pages.end(), nested.pages.begin(), nested.pages.end());
        pending.insert(pending.end(), nested.sitemaps.begin(), nested.sitemaps.end());
    }
    if (pages.size() > kMaxPages) {
        Log(how, "内链：sitemap 列出的网页超过" + std::to_string(kMaxPages) + "个，只用前" + std::to_string(kMaxPages) +
                     "个");
        pages.resize(kMaxPages);
    }
    // One page listed twice (by two sitemaps) is one link.
    std::set<Text> seen;
    std::erase_if(pages, [&seen](const SitemapPage& page) { return !seen.insert(page.url).second; });

    std::vector<Text> titles = TitleReader(how).Titles(pages);
    DropSharedSiteName(titles);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (!titles[i].empty()) {
            loaded.links.push_back({titles[i], pages[i].url});
        }
    }
    return loaded;
}

}  // namespace

LoadedLinks LoadInternalLinks(const Text& source, const LinkLoading& how) {
    const Text named(TrimAsciiBlanks(source));
    const Text invalid = "内链设置有误：";
    Bytes bytes;
    if (IsWebAddress(named)) {
        Fetched fetched = Fetch(named, how);
        if (!fetched.error.empty()) {
            return {{}, invalid + "无法下载 " + named + "：" + fetched.error};
        }
        bytes = std::move(fetched.body);
    } else {
        const Text path = IsAbsolutePath(named) ? named : how.programFolder + "/" + named;
        Result<Bytes> read = ReadFileBytes(path);
        if (!read) {
            return {{}, invalid + Describe(read.error())};
        }
        bytes = std::move(*read);
    }

    LoadedLinks loaded;
    if (LooksLikeSitemap(bytes)) {
        loaded = FromSitemaps(ReadSitemap(bytes), named, how);
    } else {
        LinkLines lines = ReadLinkLines(IniDocument::FromFileBytes(bytes).text());
        for (const SkippedLine& skipped : lines.skipped) {
            Log(how, "内链文件第" + std::to_string(skipped.number) + "行无法使用，已跳过：" + skipped.reason);
        }
        loaded.links = std::move(lines.links);
    }
    if (how.cancel && how.cancel->load()) {
        return {};
    }
    if (loaded.links.empty()) {
        loaded.error = invalid + named + " 中没有可用的链接";
    } else {
        Log(how, "内链：从 " + named + " 读入" + std::to_string(loaded.links.size()) + "条链接");
    }
    return loaded;
}

}  // namespace qj

// The sources of internal links: links files, sitemaps and the pages they list, read from files
// and from a local web server.

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "local_servers.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "templates/link_loader.h"
#include "templates/link_sources.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

std::vector<std::pair<Text, Text>> Pairs(const std::vector<InternalLink>& links) {
    std::vector<std::pair<Text, Text>> pairs;
    for (const InternalLink& link : links) {
        pairs.emplace_back(link.anchor, link.url);
    }
    return pairs;
}

TEST(LinkSourcesTest, LinksFilesSitemapsAndPagesAreRead) {
    const LinkLines lines = ReadLinkLines(
        "# 我的网站\r\n泡脚的好处 https://a.example/p/1\r\nVisual Studio Code\t/vscode\r\n只有锚文本\r\n"
        "北京\xA1\xA1http://a.example/北京\r\n坏链接 ftp://a.example/\r\n\r\n");
    // The URL is the last field; a Chinese URL goes in its UTF-8 percent form.
    EXPECT_EQ(Pairs(lines.links), (std::vector<std::pair<Text, Text>>{
                                      {"泡脚的好处", "https://a.example/p/1"},
                                      {"Visual Studio Code", "/vscode"},
                                      {"北京", "http://a.example/%E5%8C%97%E4%BA%AC"},
                                  }));
    ASSERT_EQ(lines.skipped.size(), 2u);
    EXPECT_EQ(lines.skipped[0].number, 4);
    EXPECT_EQ(lines.skipped[1].number, 6);
    EXPECT_EQ(lines.skipped[1].reason, "链接地址不是 http/https 网址，也不是以 / 开头的站内路径：ftp://a.example/");

    const std::string sitemap = AnsiToUtf8(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
        "<url><loc> https://a.example/?p=1&amp;lang=zh </loc><lastmod>2024-01-01</lastmod>"
        "<image:image><image:loc>https://a.example/1.png</image:loc><image:title>图</image:title></image:image></url>"
        "<url><loc><![CDATA[https://a.example/新闻]]></loc><news:news><news:title>新闻 &amp; "
        "标题</news:title></news:news></url>"
        "<url><loc>https://a.example/?p=1&amp;lang=zh</loc></url><url><loc>mailto:x</loc></url></urlset>");
    EXPECT_TRUE(LooksLikeSitemap(sitemap));
    EXPECT_FALSE(LooksLikeSitemap("泡脚 https://a.example/"));
    const Sitemap read = ReadSitemap(sitemap);
    ASSERT_EQ(read.pages.size(), 2u);
    EXPECT_EQ(read.pages[0].url, "https://a.example/?p=1&lang=zh");
    EXPECT_EQ(read.pages[0].lastModified, "2024-01-01");
    EXPECT_EQ(read.pages[0].title, "");
    EXPECT_EQ(read.pages[1].url, "https://a.example/%E6%96%B0%E9%97%BB");
    EXPECT_EQ(read.pages[1].title, "新闻 & 标题");
    EXPECT_EQ(
        ReadSitemap("<sitemapindex><sitemap><loc>http://a.example/s1.xml</loc></sitemap></sitemapindex>").sitemaps,
        TextList{"http://a.example/s1.xml"});

    EXPECT_EQ(PageTitle(AnsiToUtf8("<html><head><title>\n 泡脚&amp;养生 - 青笺 </title></head><body><title>x</title>")),
              "泡脚&养生 - 青笺");
    EXPECT_EQ(
        PageTitle(
            "<head><meta charset=\"gbk\"><title>北京烤鸭</title><meta property=\"og:title\" content=\"烤鸭&#x8005;\">"),
        "烤鸭者");
    EXPECT_EQ(PageTitle("<title>北京烤鸭</title>", "text/html; charset=GB2312"), "北京烤鸭");
    EXPECT_EQ(PageTitle("<p>没有标题</p>"), "");

    std::vector<Text> titles{"泡脚的好处 - 青笺博客", "北京烤鸭_青笺博客", "青笺博客", "GPT-4 入门", "关于｜青笺博客"};
    DropSharedSiteName(titles);
    EXPECT_EQ(titles, (std::vector<Text>{"泡脚的好处", "北京烤鸭", "青笺博客", "GPT-4 入门", "关于"}));
    std::vector<Text> unshared{"A - B", "C - D"};
    DropSharedSiteName(unshared);
    EXPECT_EQ(unshared, (std::vector<Text>{"A - B", "C - D"}));
}

// A site on 127.0.0.1 (SITE in its pages) with a sitemap index, a sitemap, pages in UTF-8 and GBK, and pages missing.
class LocalSite {
public:
    LocalSite() {
        Serve("/sitemap.xml",
              "<sitemapindex><sitemap><loc>SITE/posts.xml</loc></sitemap>"
              "<sitemap><loc>SITE/gone.xml</loc></sitemap></sitemapindex>");
        SetPosts("2024-01-01");
        Serve("/p/1", AnsiToUtf8("<title>泡脚的好处 - 青笺博客</title>"));
        Serve("/p/2",
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\"><title>北京烤鸭_青笺博客</title>");
        server_.Start();
    }

    void SetPosts(const std::string& lastModified) {
        Serve("/posts.xml",
              "<urlset><url><loc>SITE/p/1</loc><lastmod>" + lastModified +
                  "</lastmod></url><url><loc>SITE/p/2</loc></url><url><loc>SITE/p/3</loc></url></urlset>");
    }
    std::string Url(const std::string& path) const { return server_.Url(path); }
    int Requests(const std::string& path) {
        std::lock_guard lock(mutex_);
        return requests_[path];
    }

private:
    void Serve(const std::string& path, std::string body) {
        std::lock_guard lock(mutex_);
        if (bodies_.emplace(path, body).second) {
            server_.server().Get(path, [this, path](const httplib::Request&, httplib::Response& response) {
                std::lock_guard lock(mutex_);
                ++requests_[path];
                std::string body = bodies_[path];
                for (std::size_t at = body.find("SITE"); at != std::string::npos; at = body.find("SITE", at)) {
                    body.replace(at, 4, server_.Url(""));
                }
                response.set_content(body, "text/html");
            });
        }
        bodies_[path] = std::move(body);
    }

    std::mutex mutex_;
    std::map<std::string, std::string> bodies_;
    std::map<std::string, int> requests_;
    test::LibServer server_;  // stops first, while what its handlers use still stands
};

TEST(LinkSourcesTest, ASitemapsPagesGiveTheAnchorsAndAreReadOnce) {
    testing::TemporaryHome home;
    LocalSite site;
    std::vector<Text> log;
    const LinkLoading how{.programFolder = ProgramFolder(), .log = [&log](const Text& line) { log.push_back(line); }};

    LoadedLinks loaded = LoadInternalLinks(site.Url("/sitemap.xml"), how);
    EXPECT_EQ(loaded.error, "");
    EXPECT_EQ(Pairs(loaded.links),
              (std::vector<std::pair<Text, Text>>{{"泡脚的好处", site.Url("/p/1")}, {"北京烤鸭", site.Url("/p/2")}}));
    const Text logged = [&log] {
        Text all;
        for (const Text& line : log) {
            all += line + "\n";
        }
        return all;
    }();
    EXPECT_NE(logged.find("内链：sitemap " + site.Url("/gone.xml") + " 读不了，已跳过：HTTP 404"), Text::npos)
        << logged;
    EXPECT_NE(logged.find("内链：1个网页没能读到标题，已跳过（例如 " + site.Url("/p/3") + "：HTTP 404）"), Text::npos)
        << logged;

    // The titles are kept: the next run reads no page again, unless its entry changed.
    EXPECT_EQ(Pairs(LoadInternalLinks(site.Url("/sitemap.xml"), how).links), Pairs(loaded.links));
    EXPECT_EQ(site.Requests("/p/1"), 1);
    EXPECT_EQ(site.Requests("/p/2"), 1);
    site.SetPosts("2024-02-02");
    EXPECT_EQ(Pairs(LoadInternalLinks(site.Url("/sitemap.xml"), how).links), Pairs(loaded.links));
    EXPECT_EQ(site.Requests("/p/1"), 2);
    EXPECT_EQ(site.Requests("/p/2"), 1);

    // The same sitemap as a file of the program folder; a links file in UTF-8 beside it.
    ASSERT_TRUE(WriteFileInOneStep(ProgramPath("站点.xml"), "<urlset><url><loc>" + site.Url("/p/2") +
                                                                 "</loc></url><url><loc>" + site.Url("/p/1") +
                                                                 "</loc></url></urlset>"));
    EXPECT_EQ(Pairs(LoadInternalLinks("站点.xml", how).links),
              (std::vector<std::pair<Text, Text>>{{"北京烤鸭", site.Url("/p/2")}, {"泡脚的好处", site.Url("/p/1")}}));
    ASSERT_TRUE(WriteFileInOneStep(ProgramPath("链接.txt"), "\xEF\xBB\xBF" + AnsiToUtf8("泡脚 /p/1\r\n无网址\r\n")));
    log.clear();
    EXPECT_EQ(Pairs(LoadInternalLinks(ProgramPath("链接.txt"), how).links),
              (std::vector<std::pair<Text, Text>>{{"泡脚", "/p/1"}}));
    EXPECT_EQ(log.front(), "内链文件第2行无法使用，已跳过：没有链接地址（每行写锚文本和网址，中间用空格分开）");

    // A source that cannot be read, or holds no link, is an error the run reports.
    EXPECT_TRUE(
        LoadInternalLinks("没有.txt", how).error.starts_with("内链设置有误：" + ProgramPath("没有.txt") + "："));
    ASSERT_TRUE(WriteFileInOneStep(ProgramPath("空.txt"), "# 只有注释\r\n"));
    EXPECT_EQ(LoadInternalLinks("空.txt", how).error, "内链设置有误：空.txt 中没有可用的链接");
    EXPECT_EQ(LoadInternalLinks(site.Url("/none"), how).error,
              "内链设置有误：无法下载 " + site.Url("/none") + "：HTTP 404");
}

}  // namespace
}  // namespace qj

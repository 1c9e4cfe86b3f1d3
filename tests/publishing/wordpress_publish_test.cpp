// Publishing to a real WordPress (the fixture's site): posts confirmed and recorded, categories and
// tags created once and reused, drafts, a schedule that continues, a wrong password, a site without
// pretty links.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>

#include "local_servers.h"
#include "publishing/schedule.h"
#include "publishing_peers.h"

namespace qj::publishing {
namespace {

using testing::KeptLog;
using testing::PublishingHome;
using testing::WordPress;
using Json = nlohmann::json;

std::string Utf8(const Text& gbk) {
    return GbkToWire(gbk);
}

std::set<long long> Ids(const Json& post, const char* taxonomy) {
    std::set<long long> ids;
    for (const Json& id : post[taxonomy]) {
        ids.insert(id.get<long long>());
    }
    return ids;
}

// The one post titled `title`; fails the test when the site has none or several.
Json OnlyPost(const testing::WordPressPeer& wp, const Text& title) {
    const std::vector<Json> posts = wp.PostsTitled(Utf8(title));
    EXPECT_EQ(posts.size(), 1u) << Utf8(title);
    return posts.empty() ? Json() : posts.front();
}

TEST(WordPressPublishing, PostsConfirmedRecordedOnceAndTermsCreatedOnceThenReused) {
    const testing::WordPressPeer wp = WordPress();
    ASSERT_FALSE(wp.url.empty()) << "no WordPress peer";
    PublishingHome home;
    const Text id = testing::UniqueName("");
    const Text spaced = "新闻&资讯" + id;  // found by no search: created again, answered with term_exists
    const Text plain = "分类" + id;
    home.AddArticle("甲" + id + ".txt", "春天的早晨" + id + "\r\n第一段。\r\n\r\n第二段。\r\n");
    home.AddArticle("乙" + id + ".txt", "<h1>标题" + id + "</h1>\r\n<p>段落。</p>\r\n");
    home.AddArticle("丙" + id + ".txt", "这是一个句子。\r\n还有一句。\r\n");
    const PublishSettings settings = testing::Settings(home, wp.SiteLine(), "发布", spaced + "," + plain, "标签" + id);

    KeptLog log;
    int handed = 0;
    PublishSummary summary = testing::PublishFolder(home, settings, log, &handed);
    EXPECT_EQ(handed, 3);
    EXPECT_EQ(summary.published, 3) << log.Utf8();
    EXPECT_EQ(summary.failed, 0);

    const Json first = OnlyPost(wp, "春天的早晨" + id);
    const Json second = OnlyPost(wp, "标题" + id);
    const Json third = OnlyPost(wp, "丙" + id);  // no title line: the keyword is the title
    ASSERT_TRUE(first.is_object() && second.is_object() && third.is_object());
    EXPECT_EQ(first["status"], "publish");
    EXPECT_EQ(first["content"]["raw"], Utf8("<p>第一段。</p>\r\n<p>第二段。</p>\r\n"));
    EXPECT_EQ(second["content"]["raw"], Utf8("<p>段落。</p>\r\n"));
    EXPECT_EQ(third["content"]["raw"], Utf8("<p>这是一个句子。</p>\r\n<p>还有一句。</p>\r\n"));
    const std::set<long long> categories = Ids(first, "categories");
    const std::set<long long> tags = Ids(first, "tags");
    EXPECT_EQ(categories.size(), 2u);
    EXPECT_EQ(tags.size(), 1u);
    EXPECT_EQ(Ids(second, "categories"), categories);
    EXPECT_EQ(Ids(third, "tags"), tags);

    // The ledger: one line per article, with the post's number and address as the site gave them.
    const std::vector<std::string> ledger = home.LedgerLines();
    ASSERT_EQ(ledger.size(), 3u);
    const std::string firstLine = "甲" + id + ".txt\t" + wp.url + "\t" + std::to_string(first["id"].get<long long>()) +
                                  "\t" + first["link"].get<std::string>() + "\t";
    EXPECT_TRUE(ledger[0].starts_with(firstLine) || ledger[1].starts_with(firstLine) ||
                ledger[2].starts_with(firstLine))
        << ledger[0];

    // A later publication takes only the new article; its terms are the same ones, not new twins.
    home.AddArticle("丁" + id + ".txt", "夏天" + id + "\r\n正文。\r\n");
    summary = testing::PublishFolder(home, settings, log, &handed);
    EXPECT_EQ(handed, 1);
    EXPECT_EQ(summary.published, 1) << log.Utf8();
    const Json fourth = OnlyPost(wp, "夏天" + id);
    EXPECT_EQ(Ids(fourth, "categories"), categories);
    EXPECT_EQ(Ids(fourth, "tags"), tags);
    const Json named = wp.Get("/wp/v2/categories?per_page=100&search=" + id);
    EXPECT_EQ(named.size(), 2u) << named.dump();

    testing::PublishFolder(home, settings, log, &handed);
    EXPECT_EQ(handed, 0);
    EXPECT_EQ(home.LedgerLines().size(), 4u);
}

TEST(WordPressPublishing, DraftsAndAScheduleThatContinuesAfterItsLastPost) {
    const testing::WordPressPeer wp = WordPress();
    ASSERT_FALSE(wp.url.empty()) << "no WordPress peer";
    PublishingHome home;
    const Text id = testing::UniqueName("");
    KeptLog log;

    home.AddArticle("草稿" + id + ".txt", "草稿标题" + id + "\r\n正文。\r\n");
    PublishSummary summary = testing::PublishFolder(home, testing::Settings(home, wp.SiteLine(), "草稿"), log);
    EXPECT_EQ(summary.published, 1) << log.Utf8();
    EXPECT_EQ(OnlyPost(wp, "草稿标题" + id)["status"], "draft");

    PublishSettings scheduled = testing::Settings(home, wp.SiteLine(), "定时");
    scheduled.postsPerDay = 2;
    scheduled.hours = DailyWindow{9 * 60, 21 * 60};
    for (int k = 0; k < 3; ++k) {
        home.AddArticle("定时" + id + "-" + std::to_string(k) + ".txt", "定时" + id + "-" + std::to_string(k) + "\r\n正文。\r\n");
    }
    summary = testing::PublishFolder(home, scheduled, log);
    EXPECT_EQ(summary.published, 3) << log.Utf8();
    home.AddArticle("定时" + id + "-3.txt", "定时" + id + "-3\r\n正文。\r\n");
    summary = testing::PublishFolder(home, scheduled, log);
    EXPECT_EQ(summary.published, 1) << log.Utf8();

    // Slots at 09:00 and 15:00, each at most ten minutes late; the fourth post takes the slot after
    // the third, though it came in another publication.
    std::vector<long long> times;
    std::map<long long, int> perDay;
    for (int k = 0; k < 4; ++k) {
        const Json post = OnlyPost(wp, "定时" + id + "-" + std::to_string(k));
        ASSERT_EQ(post["status"], "future") << post.dump();
        const std::optional<long long> time = ParseSiteTime(post["date"].get<std::string>());
        ASSERT_TRUE(time);
        const long long ofDay = *time % kSecondsPerDay;
        EXPECT_TRUE((ofDay >= 9 * 3600 && ofDay <= 9 * 3600 + 600) || (ofDay >= 15 * 3600 && ofDay <= 15 * 3600 + 600))
            << post["date"];
        ++perDay[*time / kSecondsPerDay];
        times.push_back(*time);
    }
    std::vector<long long> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted.back(), times.back()) << "the continued calendar goes on after the earlier posts";
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (const auto& [day, count] : perDay) {
        EXPECT_LE(count, 2);
    }
    // The slot after the third: 15:00 the same day after a 09:00 one, else 09:00 the next day.
    const long long gap = (sorted[2] % kSecondsPerDay < 12 * 3600) ? 6 * 3600 : 18 * 3600;
    EXPECT_LE(std::llabs(times[3] - sorted[2] - gap), 600) << times[3] - sorted[2];
    // The ledger holds the dates the site shows.
    EXPECT_NE(home.Read(u8"发布记录.txt").find(FormatSiteTime(times[3])), std::string::npos);
}

// A proxy in front of the WordPress that answers 404 to everything under /wp-json/, as a site
// without pretty links does, and passes every other request on.
class WithoutPrettyLinks {
public:
    explicit WithoutPrettyLinks(const std::string& target) {
        const std::size_t colon = target.rfind(':');
        const int port = std::stoi(target.substr(colon + 1));
        const auto pass = [this, port](const httplib::Request& request, httplib::Response& response) {
            if (request.path.starts_with("/wp-json")) {
                ++refused_;
                response.status = 404;
                response.set_content("<html>Not Found</html>", "text/html");
                return;
            }
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(60, 0);
            httplib::Headers headers;
            for (const char* name : {"Authorization", "Content-Type", "Accept"}) {
                if (request.has_header(name)) {
                    headers.emplace(name, request.get_header_value(name));
                }
            }
            httplib::Result result = request.method == "POST"
                                         ? client.Post(request.target.c_str(), headers, request.body,
                                                       request.get_header_value("Content-Type").c_str())
                                         : client.Get(request.target.c_str(), headers);
            if (!result) {
                response.status = 502;
                return;
            }
            response.status = result->status;
            response.set_content(result->body, result->get_header_value("Content-Type").c_str());
        };
        server_.server().Get(".*", pass);
        server_.server().Post(".*", pass);
        server_.Start();
    }
    std::string Url() const { return server_.Url(""); }
    int Refused() const { return refused_; }

private:
    test::LibServer server_;
    std::atomic<int> refused_{0};
};

TEST(WordPressPublishing, WrongPasswordRestsTheSiteAndArticlesGoToASiteWithoutPrettyLinks) {
    const testing::WordPressPeer wp = WordPress();
    ASSERT_FALSE(wp.url.empty()) << "no WordPress peer";
    const Text id = testing::UniqueName("");
    const std::string wrong = "wordpress " + wp.url + " " + wp.user + " abcd efgh ijkl mnop qrst uvwx";

    {
        PublishingHome home;
        home.AddArticle("错" + id + ".txt", "错密码" + id + "\r\n正文。\r\n");
        KeptLog log;
        const PublishSummary summary = testing::PublishFolder(home, testing::Settings(home, wrong), log);
        EXPECT_EQ(summary.failed, 1);
        EXPECT_EQ(summary.published, 0);
        EXPECT_TRUE(log.Holds("用户名或应用密码不对，或网站服务器没有把 Authorization 头交给 WordPress（HTTP 401）；"
                              "这个网站休息10分钟"))
            << log.Utf8();
        EXPECT_EQ(home.Read(u8"发布失败关键词.txt"), "错" + id + "\r\n");
        EXPECT_TRUE(home.LedgerLines().empty());
        EXPECT_TRUE(wp.PostsTitled(Utf8("错密码" + id)).empty());
    }

    WithoutPrettyLinks proxy(wp.url);
    PublishingHome home;
    home.AddArticle("转1" + id + ".txt", "转发一" + id + "\r\n正文。\r\n");
    home.AddArticle("转2" + id + ".txt", "转发二" + id + "\r\n正文。\r\n");
    KeptLog log;
    const std::string proxied = "wordpress " + proxy.Url() + " " + wp.user + " " + wp.appPassword;
    const PublishSummary summary = testing::PublishFolder(home, testing::Settings(home, wrong + "\n" + proxied), log);
    EXPECT_EQ(summary.published, 2) << log.Utf8();
    EXPECT_TRUE(log.Holds("改发到 " + proxy.Url())) << log.Utf8();
    EXPECT_GT(proxy.Refused(), 0);
    for (const std::string& line : home.LedgerLines()) {
        EXPECT_NE(line.find("\t" + proxy.Url() + "\t"), std::string::npos) << line;
    }
    OnlyPost(wp, "转发一" + id);
    OnlyPost(wp, "转发二" + id);
}

}  // namespace
}  // namespace qj::publishing

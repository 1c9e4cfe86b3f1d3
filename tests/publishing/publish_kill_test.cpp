// A publishing program ended on the spot at each step of a post (before the request, after the site
// made the post, while asking the site again, after the ledger line), then a publication of the same
// folder: every article is on the site exactly once and in the ledger exactly once.

#include <gtest/gtest.h>

#include "child_program.h"
#include "publishing_peers.h"
#include "text/text_helpers.h"

#include <set>

namespace qj::publishing {
namespace {

using testing::KeptLog;
using testing::PublishingHome;

constexpr int kEndedAtStep = 70;
constexpr int kArticles = 3;

// Runs the child program over the folder until it ends at `step`.
void EndAt(const PublishingHome& home, const char* step) {
    testing::ChildProgram child(testing::BuiltProgram(QJ_PUBLISH_CHILD, QJ_PUBLISH_CHILD_FROM_TESTS), {step},
                                home.Path() / "child.log");
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Wait(), kEndedAtStep) << step << ": " << testing::ReadBytes(home.Path() / "child.log");
}

TEST(PublishingKilled, WordPressPostNeitherTwiceNorLostAfterAKillAtEveryStep) {
    const testing::WordPressPeer wp = testing::WordPress();
    ASSERT_FALSE(wp.url.empty()) << "no WordPress peer";
    for (const char* step : {"sending", "created", "confirming", "recorded"}) {
        PublishingHome home;
        const Text id = testing::UniqueName(step);
        testing::WriteBytes(home.Path() / u8"站点.txt", wp.SiteLine());
        for (int k = 0; k < kArticles; ++k) {
            home.AddArticle("杀" + id + std::to_string(k) + ".txt", "断点" + id + std::to_string(k) + "\r\n正文。\r\n");
        }
        EndAt(home, step);

        KeptLog log;
        const PublishSummary summary = testing::PublishFolder(home, testing::Settings(home, wp.SiteLine()), log);
        EXPECT_EQ(summary.failed, 0) << step << "\n" << log.Utf8();
        if (std::string(step) == "created" || std::string(step) == "confirming") {
            // The post the killed program made is found on the site and recorded, not sent again.
            EXPECT_GE(summary.recovered, 1) << step << "\n" << log.Utf8();
            EXPECT_TRUE(log.Holds("这次只补记到发布记录，不再重发")) << log.Utf8();
        }
        for (int k = 0; k < kArticles; ++k) {
            EXPECT_EQ(wp.PostsTitled(GbkToWire("断点" + id + std::to_string(k))).size(), 1u) << step << " " << k;
        }
        const std::vector<std::string> ledger = home.LedgerLines();
        EXPECT_EQ(ledger.size(), static_cast<std::size_t>(kArticles)) << step;
        EXPECT_EQ(std::set<std::string>(ledger.begin(), ledger.end()).size(), ledger.size());
        EXPECT_EQ(home.Read(u8"正在发布.txt"), "") << step;
    }
}

TEST(PublishingKilled, FormPostMadeBeforeTheKillIsFoundOnTheListPage) {
    const std::string url = testing::FormSiteUrl();
    ASSERT_FALSE(url.empty()) << "no form site";
    PublishingHome home;
    const Text id = testing::UniqueName("");
    testing::WriteBytes(home.Path() / u8"form.ini",
                        "[登录]\r\n地址=" + url + "/admin/login.php\r\n字段=username=editor&password=secret\r\n"
                        "成功标记=登录成功\r\n[发布]\r\n地址=" + url + "/admin/post.php\r\n"
                        "字段=title={标题}&body={内容}\r\n成功标记=发布成功\r\n[列表]\r\n地址=" + url + "/list.php\r\n");
    testing::WriteBytes(home.Path() / u8"站点.txt", "表单 form.ini");
    home.AddArticle("表单杀" + id + ".txt", "表单断点" + id + "\r\n正文。\r\n");
    EndAt(home, "created");

    KeptLog log;
    const PublishSummary summary = testing::PublishFolder(home, testing::Settings(home, "表单 form.ini"), log);
    EXPECT_EQ(summary.recovered, 1) << log.Utf8();
    int count = 0;
    for (const Text& line : SplitText(testing::ReadBytes(home.Path() / "child.log"), "\n")) {
        count += line.find("ended at created") != Text::npos ? 1 : 0;
    }
    EXPECT_EQ(count, 1);
    // The list page shows the title once: the site has the post once.
    HttpRequestParams params;
    params.url = url + "/list.php";
    const Bytes page = HttpRequest(params).value_or(HttpResponse{}).body;
    const Text title = "表单断点" + id;
    EXPECT_NE(page.find(title), Bytes::npos);
    EXPECT_EQ(page.find(title, page.find(title) + 1), Bytes::npos);
}

}  // namespace
}  // namespace qj::publishing

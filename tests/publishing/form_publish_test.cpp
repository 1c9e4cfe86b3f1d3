// Publishing through web forms to the form-based test site: a login whose session cookie the posts
// carry, GBK urlencoded and UTF-8 multipart forms, success and failure markers, the list page.

#include <gtest/gtest.h>

#include "publishing_peers.h"
#include "text/text_helpers.h"

namespace qj::publishing {
namespace {

using testing::KeptLog;
using testing::PublishingHome;

struct StoredPost {
    std::string title;
    std::string body;
    std::string category;
    std::string contentType;
};

// What the site stored, byte for byte.
std::vector<StoredPost> StoredPosts() {
    HttpRequestParams params;
    params.url = testing::FormSiteUrl() + "/posts.txt";
    const Bytes body = HttpRequest(params).value_or(HttpResponse{}).body;
    std::vector<StoredPost> posts;
    for (const Text& line : SplitText(body, "\n")) {
        const TextList fields = SplitText(line, "\t");
        if (fields.size() >= 6) {
            posts.push_back({Base64Decode(fields[0]), Base64Decode(fields[1]), Base64Decode(fields[2]),
                             Base64Decode(fields[5])});
        }
    }
    return posts;
}

int CountTitled(const std::string& title) {
    int count = 0;
    for (const StoredPost& post : StoredPosts()) {
        count += post.title == title ? 1 : 0;
    }
    return count;
}

// The profile of the example, pointed at the test site, written in GBK.
Text GbkProfile(const std::string& url, const Text& password = "secret") {
    return "[登录]\r\n地址=" + url + "/admin/login.php\r\n方法=POST\r\n字段=username=editor&password=" + password +
           "\r\n成功标记=登录成功\r\n\r\n[发布]\r\n地址=" + url +
           "/admin/post.php\r\n方法=POST\r\n编码=GBK\r\n格式=urlencoded\r\n"
           "字段=title={标题}&body={内容}&category={分类}\r\n成功标记=发布成功\r\n失败标记=发布失败\r\n\r\n[列表]\r\n地址=" +
           url + "/list.php\r\n";
}

TEST(FormPublishing, GbkUrlencodedAndUtf8MultipartFormsConfirmedOnTheListPage) {
    const std::string url = testing::FormSiteUrl();
    ASSERT_FALSE(url.empty()) << "no form site";
    PublishingHome home;
    const Text id = testing::UniqueName("");
    testing::WriteBytes(home.Path() / u8"gbk.ini", GbkProfile(url));
    // The same form as UTF-8 multipart, the profile file itself UTF-8 with a byte-order mark.
    Text utf8 = ReplaceAll(ReplaceAll(GbkProfile(url), "编码=GBK", "编码=UTF-8"), "格式=urlencoded", "格式=multipart");
    utf8 = ReplaceAll(utf8, "/admin/post.php", "/admin/post-utf8.php");
    utf8 = ReplaceAll(utf8, "[列表]", "[列表-未用]");  // no list page: the success marker confirms
    testing::WriteBytes(home.Path() / u8"utf8.ini", "\xEF\xBB\xBF" + GbkToWire(utf8));

    home.AddArticle("表单甲" + id + ".txt", "表单标题&<甲>" + id + "\r\n第一段，百分号100%。\r\n");
    home.AddArticle("表单乙" + id + ".txt", "表单标题乙" + id + "\r\n第二篇。\r\n");
    home.AddArticle("表单丙" + id + ".txt", "违禁标题" + id + "\r\n正文。\r\n");  // the site answers 发布失败
    PublishSettings settings = testing::Settings(home, "表单 gbk.ini\n表单 utf8.ini", "发布", "新闻" + id);
    settings.everySite = true;

    KeptLog log;
    const PublishSummary summary = testing::PublishFolder(home, settings, log);
    EXPECT_EQ(summary.published, 4) << log.Utf8();
    EXPECT_EQ(summary.failed, 2) << log.Utf8();
    EXPECT_TRUE(log.Holds("文章【表单丙" + id + "】发布失败（" + Text(url) + "/admin/post.php）：网站的回答中有失败标记「发布失败」"))
        << log.Utf8();
    EXPECT_EQ(home.Read(u8"发布失败关键词.txt"), "表单丙" + id + "\r\n");

    // Each placeholder arrived in the form's encoding, byte for byte, the title's & < > as written.
    int gbk = 0;
    int utf8Posts = 0;
    for (const StoredPost& post : StoredPosts()) {
        if (post.title == "表单标题&<甲>" + id) {
            ++gbk;
            EXPECT_EQ(post.body, "<p>第一段，百分号100%。</p>\r\n");
            EXPECT_EQ(post.category, "新闻" + id);
            EXPECT_EQ(post.contentType, "application/x-www-form-urlencoded");
        } else if (post.title == GbkToWire("表单标题&<甲>" + id)) {
            ++utf8Posts;
            EXPECT_EQ(post.body, GbkToWire("<p>第一段，百分号100%。</p>\r\n"));
            EXPECT_TRUE(post.contentType.starts_with("multipart/form-data; boundary=")) << post.contentType;
        }
    }
    EXPECT_EQ(gbk, 1);
    EXPECT_EQ(utf8Posts, 1);
    EXPECT_EQ(CountTitled("表单标题乙" + id), 1);
    EXPECT_EQ(home.LedgerLines().size(), 4u);

    // A wrong login password: the login marker is missing, the site rests, nothing is posted.
    PublishingHome other;
    testing::WriteBytes(other.Path() / u8"gbk.ini", GbkProfile(url, "wrong"));
    other.AddArticle("表单丁" + id + ".txt", "表单标题丁" + id + "\r\n正文。\r\n");
    KeptLog refused;
    const PublishSummary none = testing::PublishFolder(other, testing::Settings(other, "表单 gbk.ini"), refused);
    EXPECT_EQ(none.failed, 1);
    EXPECT_TRUE(refused.Holds("登录没有成功：网站的回答中没有成功标记「登录成功」")) << refused.Utf8();
    EXPECT_EQ(CountTitled("表单标题丁" + id), 0);
}

}  // namespace
}  // namespace qj::publishing

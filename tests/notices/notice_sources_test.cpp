// Where the notice texts come from: the stored sources, the built-in texts, and the chain primary ->
// fallback -> built-in against two local sites.

#include "notices/notice_sources.h"

#include <gtest/gtest.h>

#include "http/base64.h"
#include "local_servers.h"
#include "local_sites.h"
#include "notice_site.h"
#include "notices/advert_list.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

using testing::NoticeSite;
using Answer = NoticeSite::Answer;

const Deployment kSites =
    testing::DeploymentWith({.mainSite = "https://qingjian.example", .secondarySite = "http://www.qingjian.example"});

TEST(NoticeSources, AddressesAndBuiltInTextsAreKeptAsBase64) {
    const NoticeSource adverts = AdvertNoticeSource(kSites);
    EXPECT_EQ(adverts.primary, Base64Encode("http://www.qingjian.example/zhanzhang/guanggao.txt"));
    EXPECT_EQ(Base64Decode(adverts.fallback), "https://qingjian.example/zhanzhang/guanggao.txt");
    EXPECT_EQ(Base64Decode(adverts.builtIn), BuiltInAdvertText("https://qingjian.example"));
    EXPECT_EQ(adverts.timeoutSeconds, 3);

    const NoticeSource version = VersionNoticeSource(kSites);
    EXPECT_EQ(Base64Decode(version.primary), "http://www.qingjian.example/zhanzhang/version.txt");
    EXPECT_EQ(Base64Decode(version.fallback), "https://qingjian.example/zhanzhang/version.txt");
    EXPECT_EQ(Base64Decode(version.builtIn), BuiltInVersionNotice("https://qingjian.example"));
    EXPECT_FALSE(version.timeoutSeconds.has_value());

    // Other sites give other sources.
    const Deployment other =
        testing::DeploymentWith({.mainSite = "http://127.0.0.1:1", .secondarySite = "http://127.0.0.1:2"});
    EXPECT_EQ(Base64Decode(AdvertNoticeSource(other).primary), "http://127.0.0.1:2/zhanzhang/guanggao.txt");
    EXPECT_EQ(Base64Decode(VersionNoticeSource(other).fallback), "http://127.0.0.1:1/zhanzhang/version.txt");
}

TEST(NoticeSources, BuiltInTextsAdvertiseTheMakersSite) {
    const TextList lines = SplitText(BuiltInAdvertText("https://site.test"), "\r\n");
    ASSERT_EQ(lines.size(), 3u);
    for (const Text& line : lines) {
        const AdvertLine advert = ParseAdvertLine(line);
        EXPECT_FALSE(advert.title.empty()) << line;
        EXPECT_EQ(advert.address.rfind("https://site.test/", 0), 0u) << line;
    }
    EXPECT_EQ(
        BuiltInVersionNotice("https://site.test"),
        "请勿使用其他盗版，破解版。\r\n\r\n官方正版产品纯绿色软件，请放心使用。\r\n\r\n官方网站：https://site.test");
}

TEST(FetchNoticeText, PrimaryThenFallbackThenBuiltIn) {
    struct Case {
        const char* what;
        Answer primary;
        Answer fallback;
        Text expected;  // empty: the built-in text
        int fallbackHits;
    };
    const Case cases[] = {
        {"primary ok", {200, "甲----http://a.test/"}, {200, "fallback"}, "甲----http://a.test/", 0},
        {"primary 404", {404, ""}, {200, "备用----http://b.test/"}, "备用----http://b.test/", 1},
        {"primary 404 page", {404, "<h1>404 Not Found</h1>"}, {200, "备用"}, "备用", 1},
        {"empty primary", {200, ""}, {200, "备用"}, "备用", 1},
        {"a notice that names 404", {200, "第404期"}, {200, "备用"}, "备用", 1},
        {"both failing", {404, ""}, {500, ""}, "", 1},
        {"fallback with 404", {200, ""}, {200, "error 404"}, "", 1},
    };
    for (const Case& c : cases) {
        NoticeSite secondary(c.primary, c.primary);
        NoticeSite main(c.fallback, c.fallback);
        const Deployment sites =
            testing::DeploymentWith({.mainSite = main.Origin(), .secondarySite = secondary.Origin()});

        const Text expected = c.expected.empty() ? BuiltInVersionNotice(main.Origin()) : c.expected;
        EXPECT_EQ(FetchNoticeText(VersionNoticeSource(sites), {}), expected) << c.what;
        EXPECT_EQ(secondary.VersionHits(), 1) << c.what;
        EXPECT_EQ(main.VersionHits(), c.fallbackHits) << c.what;

        const Text expectedAdverts = c.expected.empty() ? BuiltInAdvertText(main.Origin()) : c.expected;
        EXPECT_EQ(FetchNoticeText(AdvertNoticeSource(sites), {}), expectedAdverts) << c.what;
        EXPECT_EQ(main.AdvertHits(), c.fallbackHits) << c.what;
    }
}

TEST(FetchNoticeText, AnUnreachableSiteCountsAsFailed) {
    const test::RefusingPort refusing;
    NoticeSite main({200, "广告----https://m.test/"}, {200, "v2"});
    const Deployment sites = testing::DeploymentWith({.mainSite = main.Origin(), .secondarySite = refusing.Url()});
    EXPECT_EQ(FetchNoticeText(AdvertNoticeSource(sites), {}), "广告----https://m.test/");
    EXPECT_EQ(FetchNoticeText(VersionNoticeSource(sites), {}), "v2");
}

TEST(FetchNoticeText, TheTextEndsAtItsFirstZeroByte) {
    NoticeSite secondary({200, std::string("前\0后", 5)}, {200, ""});
    const Deployment sites =
        testing::DeploymentWith({.mainSite = secondary.Origin(), .secondarySite = secondary.Origin()});
    EXPECT_EQ(FetchNoticeText(AdvertNoticeSource(sites), {}), "前");
}

}  // namespace
}  // namespace qj

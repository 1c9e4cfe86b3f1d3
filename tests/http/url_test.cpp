// URL splitting and where a redirect leads, as a transport that follows redirects itself uses them.

#include "http/url.h"

#include <gtest/gtest.h>

namespace qj {
namespace {

TEST(Url, SplitsHostPortAndTarget) {
    const auto parts = SplitUrl("HTTPS://User:pw@API.Example.com:8443/v1/chat?x=1#frag");
    ASSERT_TRUE(parts);
    EXPECT_TRUE(parts->secure);
    EXPECT_EQ(parts->host, "api.example.com");
    EXPECT_EQ(parts->port, 8443);
    EXPECT_EQ(parts->target, "/v1/chat?x=1");
    EXPECT_EQ(parts->HostPort(), "api.example.com:8443");
    EXPECT_EQ(parts->Absolute(), "https://api.example.com:8443/v1/chat?x=1");

    const auto bare = SplitUrl("http://127.0.0.1?q");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 80);
    EXPECT_EQ(bare->target, "/?q");
    EXPECT_EQ(bare->HostPort(), "127.0.0.1");
    EXPECT_EQ(bare->HostPort(true), "127.0.0.1:80");

    const auto v6 = SplitUrl("http://[::1]:81/");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->HostPort(), "[::1]:81");

    for (const char* bad : {"ftp://h/", "http://", "http://:80/", "http://h:0/", "http://h:65536/", "http://h:8x/",
                            "http://[::1/", "127.0.0.1/x"}) {
        EXPECT_FALSE(SplitUrl(bad)) << bad;
    }
}

TEST(Url, RedirectTargetsResolveLikeABrowser) {
    const std::string base = "http://h:8/a/b/c?q=1#f";
    const std::pair<const char*, const char*> cases[] = {
        {"https://other/x", "https://other/x"},
        {"//other:9/x", "http://other:9/x"},
        {"/root?z", "http://h:8/root?z"},
        {"?z=2", "http://h:8/a/b/c?z=2"},
        {"d", "http://h:8/a/b/d"},
        {"../d/./e", "http://h:8/a/d/e"},
        {"../../../../d", "http://h:8/d"},
        {"./", "http://h:8/a/b/"},
        {"..", "http://h:8/a/"},
        {" /spaced ", "http://h:8/spaced"},
        {"", "http://h:8/a/b/c?q=1"},
    };
    for (const auto& [location, expected] : cases) {
        EXPECT_EQ(ResolveRedirect(base, location).value_or("none"), expected) << location;
    }
    EXPECT_FALSE(ResolveRedirect(base, "ftp://h/x"));
    EXPECT_FALSE(ResolveRedirect(base, "//"));
}

TEST(Url, OnlyPostLosesItsBodyAndOnlyOn301To303) {
    for (int method = 0; method < 8; ++method) {
        for (const int status : {301, 302, 303, 307, 308}) {
            EXPECT_TRUE(IsFollowedRedirect(status));
            EXPECT_EQ(RedirectDropsBody(method, status), method == 1 && status < 307) << method << " " << status;
        }
    }
    for (const int status : {200, 300, 304, 305, 306, 309}) {
        EXPECT_FALSE(IsFollowedRedirect(status)) << status;
    }
}

}  // namespace
}  // namespace qj

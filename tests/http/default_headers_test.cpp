#include "http/default_headers.h"

#include <gtest/gtest.h>

#include "http/header_block.h"
#include "http/timeout_policy.h"

namespace qj {
namespace {

constexpr const char* kUserAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

TEST(AddDefaultHeaders, PostWithAnEmptyBlockGetsAllFiveLinesInTableOrder) {
    Text block;
    AddDefaultHeaders(block, "http://h/p", kMethodPost);
    EXPECT_EQ(block, std::string("\r\nAccept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn\r\n") + kUserAgent +
                         "\r\nContent-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(NormalizeHeaderBlock(block), block.substr(2));
}

TEST(AddDefaultHeaders, ContentTypeOnlyForPost) {
    for (int method : {0, 2, 3, 4, 5, 6, 7, 8, -1}) {
        Text block;
        AddDefaultHeaders(block, "u", method);
        EXPECT_EQ(block.find("Content-Type"), Text::npos) << method;
    }
}

TEST(AddDefaultHeaders, ProbesAreCaseInsensitiveSubstrings) {
    Text block = "X-My-Referer: a\r\naccept: b\r\nuser-agent:c";
    AddDefaultHeaders(block, "u", kMethodGet);
    EXPECT_EQ(block, "X-My-Referer: a\r\naccept: b\r\nuser-agent:c\r\nAccept-Language: zh-cn");
    // A second pass adds nothing more.
    const Text once = block;
    AddDefaultHeaders(block, "u", kMethodGet);
    EXPECT_EQ(block, once);
}

TEST(VerbOfMethod, CodesOutsideTheTableMeanGet) {
    const char* verbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(VerbOfMethod(code), verbs[code]);
    }
    EXPECT_EQ(VerbOfMethod(8), "GET");
    EXPECT_EQ(VerbOfMethod(-1), "GET");
}

TEST(TimeoutMilliseconds, FollowsTheSecondsRule) {
    EXPECT_EQ(TimeoutMilliseconds(0), 15000);
    EXPECT_EQ(TimeoutMilliseconds(-5), 15000);
    EXPECT_EQ(TimeoutMilliseconds(3), 3000);
    EXPECT_EQ(TimeoutMilliseconds(600000), 600000000);
    EXPECT_EQ(TimeoutMilliseconds(-1), std::nullopt);
    // Beyond the signed 32-bit millisecond range the count is capped instead of wrapping.
    EXPECT_EQ(TimeoutMilliseconds(2147484), 2147483647);
}

TEST(TimeoutPolicyFor, DefaultsBoundConnectAndIdleButNotResolution) {
    const TimeoutPolicy defaults = TimeoutPolicyFor(std::nullopt);
    EXPECT_EQ(defaults.resolveAndConnectMs, 0);
    EXPECT_EQ(defaults.connectMs, 60000);
    EXPECT_EQ(defaults.idleMs, 30000);
    const TimeoutPolicy three = TimeoutPolicyFor(3000);
    EXPECT_EQ(three.resolveAndConnectMs, 3000);
    EXPECT_EQ(three.idleMs, 3000);
    // Opening a tunnel through a proxy has half a minute at most, however long the request may idle.
    EXPECT_EQ(ProxySetUpMs(TimeoutPolicyFor(600000)), 30000);
    EXPECT_EQ(ProxySetUpMs(defaults), 30000);
    EXPECT_EQ(ProxySetUpMs(three), 3000);
}

}  // namespace
}  // namespace qj

#include "http/cookie_jar.h"

#include <gtest/gtest.h>

#include "http/base64.h"

namespace qj {
namespace {

TEST(ExtractCookies, TakesNameAndValueOfEverySetCookieLine) {
    EXPECT_EQ(ExtractCookies("Content-Type: text/html\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\nX: y"),
              "a=1; b=2");
    EXPECT_EQ(ExtractCookies("Content-Type: text/html\r\nServer: x"), "");
    EXPECT_EQ(ExtractCookies(""), "");
    EXPECT_EQ(ExtractCookies("Set-Cookie: empty=; HttpOnly"), "empty=");
    // The name is matched byte for byte.
    EXPECT_EQ(ExtractCookies("set-cookie: a=1\r\nSET-COOKIE: b=2"), "");
    // An empty cookie still takes its place in the list.
    EXPECT_EQ(ExtractCookies("Set-Cookie: \r\nSet-Cookie: c=3"), "; c=3");
}

TEST(MergeCookies, FreshCookiesReplaceOldOnesAndDeletedOnesGo) {
    CookieText old = "sid=1; uid=2";
    EXPECT_EQ(MergeCookies(old, "uid=3; lang=deleted"), "uid=3; sid=1");
    EXPECT_EQ(old, "uid=3; sid=1");
}

TEST(MergeCookies, CleansEitherSideAlone) {
    CookieText old;
    EXPECT_EQ(MergeCookies(old, " a=1; b=deleted; a=1; c=3; "), "a=1; c=3");
    old = "x=1; y=deleted; x=1;";
    EXPECT_EQ(MergeCookies(old, ""), "x=1");
    old = "";
    EXPECT_EQ(MergeCookies(old, ""), "");
    EXPECT_EQ(old, "");
}

TEST(MergeCookies, CarriesOnlyTheFirstOfTwoOldItemsWithOneName) {
    CookieText old = "k=1; k=2; m=5";
    EXPECT_EQ(MergeCookies(old, "n=9"), "n=9; k=1; m=5");
}

TEST(CookieName, IsTheTrimmedTextBeforeTheFirstEquals) {
    EXPECT_EQ(CookieName(" token = a=b "), "token");
    EXPECT_EQ(CookieName(" flag "), "flag");
    EXPECT_EQ(CookieName("=v"), "");
}

TEST(DedupeItems, KeepsTheFirstOfEqualItems) {
    EXPECT_EQ(DedupeItems("a; b; a; c; b", "; "), "a; b; c");
    EXPECT_EQ(DedupeItems("", "; "), "");
    EXPECT_EQ(DedupeItems("a|a|", "|"), "a");
}

TEST(Base64Encode, MatchesTheStandardAlphabetAndPadding) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode("user:secret"), "dXNlcjpzZWNyZXQ=");
    EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Base64Decode, UndoesTheEncodingAndSkipsWhatIsNotBase64) {
    const std::vector<std::string> samples = {
        "", "f", "fo", "foo", "foobar", "\xC7\xE0\xBC\xE3", std::string("\xFB\xFF\x00", 3)};
    for (const std::string& bytes : samples) {
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
    }
    EXPECT_EQ(Base64Decode("Zm8"), "fo");  // padding left out
    EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(Base64Decode("Zg==Zm9v"), "f");
    EXPECT_EQ(Base64Decode("!!"), "");
}

}  // namespace
}  // namespace qj

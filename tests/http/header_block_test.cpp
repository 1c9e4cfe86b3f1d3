#include "http/header_block.h"

#include <gtest/gtest.h>

namespace qj {
namespace {

TEST(NormalizeHeaderBlock, CapitalisesWordsOfNamesAndDropsLinesWithoutColon) {
    EXPECT_EQ(NormalizeHeaderBlock("content-type: text/plain\r\nx-a-b:1\r\nbroken line\r\n"),
              "Content-Type: text/plain\r\nX-A-B:1");
    EXPECT_EQ(NormalizeHeaderBlock("\r\nAccept: */*"), "Accept: */*");
    EXPECT_EQ(NormalizeHeaderBlock(""), "");
    EXPECT_EQ(NormalizeHeaderBlock("\r\n\r\nno colon\r\n"), "");
}

TEST(NormalizeHeaderBlock, LeavesValuesAndSpacingAlone) {
    // Only bytes in front of the first colon change; a hyphen in the value is not a word start.
    EXPECT_EQ(NormalizeHeaderBlock("referer:http://a-b.cn/x-y"), "Referer:http://a-b.cn/x-y");
    EXPECT_EQ(NormalizeHeaderBlock("x- :v\r\n-a:b"), "X- :v\r\n-A:b");
    // A double-byte character is never upper-cased, nor its trail byte taken for a letter.
    EXPECT_EQ(NormalizeHeaderBlock("\xB0\x61-b: 1"), "\xB0\x61-B: 1");
}

TEST(NormalizeHeaderBlock, IsIdempotent) {
    const char* blocks[] = {"a-b: c\r\n\r\nd:e\r\n", "\r\nAccept: x\r\nuser-agent: y", "x", "\xB0\xA1:\xB0\xA1\r\n"};
    for (const char* block : blocks) {
        const Text once = NormalizeHeaderBlock(block);
        EXPECT_EQ(NormalizeHeaderBlock(once), once) << block;
    }
}

TEST(CapitalizeFirst, UpperCasesOnlyAnAsciiLetterAtTheStart) {
    EXPECT_EQ(CapitalizeFirst("abc"), "Abc");
    EXPECT_EQ(CapitalizeFirst("Abc"), "Abc");
    EXPECT_EQ(CapitalizeFirst("1bc"), "1bc");
    EXPECT_EQ(CapitalizeFirst(""), "");
    EXPECT_EQ(CapitalizeFirst("\xE1\x61"), "\xE1\x61");
}

TEST(HeaderNameAndValue, SplitAtTheFirstColonAndTrim) {
    EXPECT_EQ(HeaderName("Authorization:Bearer sk-1"), "Authorization");
    EXPECT_EQ(HeaderValue("Authorization:Bearer sk-1"), "Bearer sk-1");
    EXPECT_EQ(HeaderName("  Host  :  127.0.0.1:8080  "), "Host");
    EXPECT_EQ(HeaderValue("  Host  :  127.0.0.1:8080  "), "127.0.0.1:8080");
    EXPECT_EQ(HeaderName("no colon here"), "");
    EXPECT_EQ(HeaderValue("no colon here"), "");
    // Full-width spaces are trimmed, tabs are not.
    EXPECT_EQ(HeaderValue("X:\xA1\xA1v\xA1\xA1 "), "v");
    EXPECT_EQ(HeaderValue("X:\tv"), "\tv");
}

}  // namespace
}  // namespace qj

#include "text/unescape.h"

#include <gtest/gtest.h>

#include "text/code_page.h"

namespace qj {
namespace {

TEST(UnescapeUnicode, DecodesTheEscapeForms) {
    EXPECT_EQ(UnescapeUnicode("%u4f60%u597d"), "你好");
    EXPECT_EQ(UnescapeUnicode("\\u4f60\\u597d"), "你好");
    EXPECT_EQ(UnescapeUnicode("%41%42"), "AB");
    EXPECT_EQ(UnescapeUnicode("50% off %zz %u12"), "50% off %zz %u12");
    EXPECT_EQ(UnescapeUnicode("a\\\\b"), "a\\b");
    EXPECT_EQ(UnescapeUnicode("a\\tb"), "a\tb");
    EXPECT_EQ(UnescapeUnicode("a\\qb"), "aqb");
    EXPECT_EQ(UnescapeUnicode("\\x41\\101"), "AA");
    EXPECT_EQ(UnescapeUnicode("\\x25u4e2d"), "中");  // the literal gives %u4e2d, unescape the rest
    EXPECT_EQ(UnescapeUnicode(""), "");
    EXPECT_EQ(UnescapeUnicode("plain 中文"), "plain 中文");
}

TEST(UnescapeUnicode, LineBreaksAndApostrophes) {
    EXPECT_EQ(UnescapeUnicode("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(UnescapeUnicode("\r\nx"), "\r\nx");  // marked before the carriage-return test
    EXPECT_EQ(UnescapeUnicode("it's"), "it's");
    EXPECT_EQ(UnescapeUnicode("\\'q\\'"), "'q'");
    EXPECT_EQ(UnescapeUnicode("%u2019s"), "'s");  // a right single quotation mark comes out as an apostrophe
    EXPECT_EQ(UnescapeUnicode("\xA1\xAFx"), "'x");
}

TEST(UnescapeUnicode, InvalidLiteralsTakeTheFallback) {
    // A piece beginning with a lone CR loses it; the rest is a valid literal.
    EXPECT_EQ(UnescapeUnicode("\rab"), "ab");
    // A lone LF, a trailing backslash or a broken \x escape make the literal invalid: the prepared
    // bytes are read as UTF-16LE. "ab" read that way is U+6261 (扡).
    EXPECT_EQ(UnescapeUnicode("a\nb\\"), UnicodeBytesToText("a\nb\\"));
    EXPECT_EQ(UnescapeUnicode("ab\\"), "扡");  // the odd last byte is dropped
    EXPECT_EQ(UnescapeUnicode("\\xZZ"), UnicodeBytesToText("\\xZZ"));
    // A decoded zero character ends the text; when nothing is left, the fallback applies.
    EXPECT_EQ(UnescapeUnicode("x%00y"), "x");
    EXPECT_EQ(UnescapeUnicode("%00y"), UnicodeBytesToText("%00y"));
}

TEST(UnicodeBytesToText, ReadsUtf16Le) {
    EXPECT_EQ(UnicodeBytesToText(Bytes("\x60\x4f\x7d\x59", 4)), "你好");
    EXPECT_EQ(UnicodeBytesToText(Bytes("A\0B\0\0\0C\0", 8)), "AB");
    EXPECT_EQ(UnicodeBytesToText(Bytes("A\0B", 3)), "A");
    EXPECT_EQ(UnicodeBytesToText(""), "");
}

}  // namespace
}  // namespace qj

#include "text/code_page.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <random>

namespace qj {
namespace {

const Text kZhongWen = "中文";  // GBK: D6 D0 CE C4

TEST(CodePage, GbkLiteralsAreGbkBytes) {
    EXPECT_EQ(kZhongWen, "\xD6\xD0\xCE\xC4");
}

#if defined(_WIN32)
// The Windows suite runs as our users' Windows does: Chinese, ANSI and OEM code page 936 (under
// Wine, the locale zh_CN.UTF-8 that scripts/wine-env.sh sets). A Western code page gives every
// byte a character of its own and would hide what a double-byte code page does to bytes.
TEST(CodePage, TheWindowsSuiteRunsUnderTheCodePageOfChineseWindows) {
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(GetOEMCP(), 936u);
}
#endif

TEST(CodePage, RoundTripsBetweenGbkUtf8AndUtf16) {
    const Text utf8 = AnsiToUtf8("泡脚对身体有什么好处?abc");
    EXPECT_EQ(utf8,
              "\xE6\xB3\xA1\xE8\x84\x9A\xE5\xAF\xB9\xE8\xBA\xAB\xE4\xBD\x93\xE6\x9C\x89\xE4\xBB\x80\xE4\xB9\x88"
              "\xE5\xA5\xBD\xE5\xA4\x84?abc");
    EXPECT_EQ(Utf8ToAnsi(utf8), "泡脚对身体有什么好处?abc");
    EXPECT_EQ(Utf8ToAnsi("plain ascii"), "plain ascii");

    const Bytes wide = TextToWide(kZhongWen, kCodePageGbk);
    EXPECT_EQ(wide, Bytes("\x2D\x4E\x87\x65\x00\x00", 6));
    EXPECT_EQ(WideToText(wide), kZhongWen);
    EXPECT_EQ(WideToText(wide, kCodePageUtf8), "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(CodePage, EmptyTextIsOneZeroUnit) {
    EXPECT_EQ(TextToWide("", kCodePageUtf8), Bytes(2, '\0'));
    EXPECT_EQ(TextToWide(""), Bytes(2, '\0'));
    EXPECT_EQ(WideToText(Bytes(2, '\0')), "");
    EXPECT_EQ(WideToText(""), "");
}

TEST(CodePage, BuffersAreSizedFromTheRequestedCodePage) {
    // Three GBK bytes per character in UTF-8: nothing may be cut.
    Text longText;
    for (int i = 0; i < 1000; ++i) {
        longText += "汉";
    }
    const Text utf8 = AnsiToUtf8(longText);
    EXPECT_EQ(utf8.size(), 3000u);
    EXPECT_EQ(Utf8ToAnsi(utf8), longText);
}

TEST(CodePage, CharactersGbkLacksBecomeQuestionMarks) {
    // U+00E9 (é) exists in GBK; U+0E01 (Thai) and U+1F600 (an emoji, a surrogate pair) do not.
    EXPECT_EQ(Utf8ToAnsi("\xE0\xB8\x81x\xF0\x9F\x98\x80y"), "?x?y");
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC"), "\x80");  // the euro sign is the single byte 0x80
    // An unpaired surrogate in UTF-16 input.
    EXPECT_EQ(WideToText(Bytes("\x00\xD8"
                               "A\x00\x00\x00",
                               6)),
              "?A");
    EXPECT_EQ(WideToText(Bytes("\x00\xD8"
                               "A\x00\x00\x00",
                               6),
                         kCodePageUtf8),
              "\xEF\xBF\xBD"
              "A");
}

TEST(CodePage, InvalidInputNeverCrashesAndIsReplaced) {
    // Broken UTF-8: a stray continuation byte, a truncated sequence at the end, an overlong form.
    EXPECT_EQ(Utf8ToAnsi("a\x80"
                         "b"),
              "a?b");
    EXPECT_EQ(Utf8ToAnsi("ab\xE4\xB8"), "ab?");
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"
                         "z"),
              "??z");
    // A lone GBK lead byte at the end, and one before an ASCII byte (which survives).
    EXPECT_EQ(GbkToUtf16("a\xD6"), u"a\uFFFD");
    EXPECT_EQ(GbkToUtf16("\xD6\x0A"
                         "b"),
              u"\uFFFD\nb");
    EXPECT_EQ(AnsiToUtf8("x\xFF"), "x\xEF\xBF\xBD");
    // Conversions stop at the first zero byte of a text.
    EXPECT_EQ(AnsiToUtf8(std::string_view("ab\0cd", 5)), "ab");
}

#if !defined(_WIN32)
// GB18030 gives the user-defined areas of code page 936 the same Private Use Area code points;
// glibc's converter for it serves as an independent reference. (On Windows the code page's own
// converter is the source of the table, and Wine's GB18030 leaves these areas out.)
char16_t ReferenceDecoding(const std::string& code) {
    iconv_t cd = iconv_open("UTF-16LE", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return 0;
    }
    char in[2] = {code[0], code[1]};
    char out[4] = {};
    char* inp = in;
    char* outp = out;
    size_t inLeft = 2;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || sizeof out - outLeft != 2) {
        return 0;
    }
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
}
#endif

TEST(CodePage, UserDefinedAreasRoundTripThroughThePrivateUseArea) {
    struct Area {
        unsigned firstLead, lastLead, firstTrail, lastTrail;
    };
    const Area areas[] = {{0xAA, 0xAF, 0xA1, 0xFE}, {0xF8, 0xFE, 0xA1, 0xFE}, {0xA1, 0xA7, 0x40, 0xA0}};
    int codes = 0;
    char16_t previous = 0xDFFF;
    for (const Area& area : areas) {
        for (unsigned lead = area.firstLead; lead <= area.lastLead; ++lead) {
            for (unsigned trail = area.firstTrail; trail <= area.lastTrail; ++trail) {
                if (trail == 0x7F) {
                    continue;
                }
                const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
                const std::u16string decoded = GbkToUtf16(code);
                ASSERT_EQ(decoded.size(), 1u);
                const char16_t u = decoded[0];
                // Consecutive code points, in area order, row by row.
                ASSERT_EQ(u, previous + 1) << std::hex << lead << trail;
#if !defined(_WIN32)
                ASSERT_EQ(u, ReferenceDecoding(code)) << std::hex << lead << trail;
#endif
                ASSERT_EQ(Utf16ToGbk(decoded), code);
                ASSERT_EQ(Utf8ToAnsi(AnsiToUtf8(code)), code);
                previous = u;
                ++codes;
            }
        }
    }
    EXPECT_EQ(codes, 564 + 658 + 672);
    EXPECT_EQ(previous, u'\uE765');
    // The euro sign byte is a character of its own, the byte behind it another.
    EXPECT_EQ(GbkToUtf16("\x80\x41"), u"\u20ACA");
}

// Windows' code page 936 gives 255 codes of the symbol rows (characters GB18030 later placed
// properly) the Private Use Area after the user-defined areas; a list written on Windows keeps them
// on every system.
TEST(CodePage, PrivateSymbolCodesFollowTheUserDefinedAreas) {
    const struct {
        unsigned first, last;
    } runs[] = {{0xA2AB, 0xA2B0}, {0xA2E3, 0xA2E4}, {0xA6F3, 0xA6F3}, {0xA8EA, 0xA8FE}, {0xD7FA, 0xD7FE},
                {0xFE50, 0xFE7E}, {0xFE80, 0xFEA0}};
    const char16_t firstOfRun[] = {0xE766, 0xE76C, 0xE796, 0xE7CD, 0xE810, 0xE815, 0xE844};
    for (std::size_t r = 0; r < std::size(runs); ++r) {
        char16_t expected = firstOfRun[r];
        for (unsigned code = runs[r].first; code <= runs[r].last; ++code, ++expected) {
            const std::string bytes{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
            ASSERT_EQ(GbkToUtf16(bytes), std::u16string(1, expected)) << std::hex << code;
            ASSERT_EQ(Utf16ToGbk(std::u16string(1, expected)), bytes) << std::hex << code;
            ASSERT_EQ(GbkRoundTrip(bytes), bytes) << std::hex << code;
        }
    }
    // With them, every lead byte and trail byte make a character, as on Windows; the single byte
    // 0xFF stays none.
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string decoded = GbkToUtf16(bytes);
            ASSERT_TRUE(trail == 0x7F || (decoded.size() == 1 && decoded[0] != u'\uFFFD')) << std::hex << lead << trail;
        }
    }
    EXPECT_EQ(GbkToUtf16("\xFF"), u"\uFFFD");
}

TEST(CodePage, UnitOffsetsFollowTheDecoder) {
    const Text t =
        "a中\xD6\x0A"
        "b";  // a, 中, lone lead, LF, b
    EXPECT_EQ(GbkToUtf16(t).size(), 5u);
    EXPECT_EQ(GbkByteOffsetOfUnit(t, 0), 0u);
    EXPECT_EQ(GbkByteOffsetOfUnit(t, 2), 3u);
    EXPECT_EQ(GbkByteOffsetOfUnit(t, 3), 4u);
    EXPECT_EQ(GbkByteOffsetOfUnit(t, 9), t.size());
}

// The direct conversions (GBK to UTF-8, well-formed UTF-8 to GBK, GBK through UTF-16 and back)
// give what the way through UTF-16 gives, where the UTF-8 side is glibc's converter: every GBK
// unit and every Unicode scalar value once, then random texts of the bytes that decide units and
// sequences, broken ones among them.
TEST(CodePage, DirectConversionsAgreeWithTheWayThroughUtf16) {
    const auto gbkToUtf8 = [](std::string_view gbk) {
        return WideToText(TextToWide(gbk, kCodePageGbk), kCodePageUtf8);
    };
    const auto utf8ToGbk = [](std::string_view utf8) { return WideToText(TextToWide(utf8, kCodePageUtf8)); };
    const auto utf8Of = [](char32_t c) {
        std::string s;
        if (c < 0x80) {
            s.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            s += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            s += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            s += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                  static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
        return s;
    };
    const auto expectAgreement = [&](const Text& gbk, const std::string& utf8) {
        ASSERT_EQ(AnsiToUtf8(gbk), gbkToUtf8(gbk)) << testing::PrintToString(gbk);
        ASSERT_EQ(GbkRoundTrip(gbk), Utf16ToGbk(GbkToUtf16(gbk))) << testing::PrintToString(gbk);
        ASSERT_EQ(Utf8ToAnsi(utf8), utf8ToGbk(utf8)) << testing::PrintToString(utf8);
    };

    Text everyUnit;
    for (unsigned b = 1; b < 0x100; ++b) {
        everyUnit += {static_cast<char>(b), ' '};  // the blank keeps a lead byte alone
        for (unsigned trail = 0x40; trail <= 0xFE && b >= 0x81 && b <= 0xFE; ++trail) {
            everyUnit += {static_cast<char>(b), static_cast<char>(trail)};
        }
    }
    std::string everyCharacter;
    for (char32_t c = 1; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 97) {
        if (c < 0xD800 || c > 0xDFFF) {
            everyCharacter += utf8Of(c);
        }
    }
    expectAgreement(everyUnit, everyCharacter);

    static const std::string kPieces[] = {"a",
                                          "\r\n",
                                          "\\",
                                          std::string(1, '\0'),
                                          "\x80",
                                          "\xFF",
                                          "\x81",
                                          "\xD6",
                                          "\xD6\xD0",
                                          "\xD5\x5C",
                                          "\xAA\xA1",
                                          "\xA2\xA0",
                                          "\xFE\xFE",
                                          "\xC0\xAF",
                                          "\xE4\xB8",
                                          "\xE4\xB8\xAD",
                                          "\xED\xA0\x80",
                                          "\xF0\x9F\x98\x80",
                                          "\xF4\x90\x80\x80",
                                          "\xF5",
                                          "\xBF",
                                          "\xE2\x82\xAC",
                                          "\xEF\xBB\xBF",
                                          "\xE0\x80\x80",
                                          "\xDF"};
    std::mt19937 random(65001);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 10);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int k = length(random); k > 0; --k) {
            text += kPieces[pick(random)];
        }
        expectAgreement(text, text);
    }
}

TEST(UrlEncode, Forms) {
    EXPECT_EQ(UrlEncode("a b/c", true), "a%20b%2Fc");
    EXPECT_EQ(UrlEncode("a b/c", false), "%61%20%62%2F%63");
    EXPECT_EQ(UrlEncode("\n"), "%0A");
    EXPECT_EQ(UrlEncode(""), "");
    EXPECT_EQ(UrlEncode("_~*+-.09AZaz", true), "%5F%7E%2A%2B-.09AZaz");
    EXPECT_EQ(UrlEncode("枸杞", true), "%E8%DB%E8%BD");
    EXPECT_EQ(UrlEncode("枸杞", true, true), "%E6%9E%B8%E6%9D%9E");
}

}  // namespace
}  // namespace qj

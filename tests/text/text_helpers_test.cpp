#include "text/text_helpers.h"

#include <gtest/gtest.h>

#include <random>

#include "text/code_page.h"
#include "text/gbk.h"
#include "text/regex_matcher.h"

namespace qj {
namespace {

// GBK characters whose second byte is an ASCII character: 亅 = 81 7C ("|"), 誠 = D5 5C ("\"),
// 癆 = B0 41 ("A").
const Text kTrailBar = "亅";
const Text kTrailBackslash = "誠";
const Text kTrailA = "癆";

TEST(FindText, NeverMatchesOnATrailByte) {
    EXPECT_EQ(kTrailBar, "\x81|");
    EXPECT_EQ(FindText(kTrailBar + "x|y", "|"), 3u);
    EXPECT_EQ(FindText(kTrailBar, "|"), kNotFound);
    EXPECT_EQ(FindText("中" + kTrailA + "A", "A"), 4u);
    EXPECT_EQ(FindText(kTrailA + "a", "a", 0, true), 2u);
    // A run of double-byte characters before the candidate decides the alignment.
    EXPECT_EQ(FindText("中文" + kTrailBar + "|", "|"), 6u);
    EXPECT_EQ(FindText("\x81\x81|", "|"), 2u);  // 81 81 is one character, so "|" stands alone
    // A lead byte at the very end is a unit of its own; nothing reads past the end.
    EXPECT_EQ(FindText("ab\xD6", "\xD6"), 2u);
    EXPECT_EQ(FindText("ab", ""), kNotFound);
    EXPECT_EQ(FindText("ab", "abc"), kNotFound);
    EXPECT_EQ(FindText("abcabc", "abc", 1), 3u);
    EXPECT_EQ(FindText("xAbC", "abc", 0, true), 1u);
}

// Units are the decoder's characters. Code page 936 has no lead byte 0x80: it is the one-byte euro
// sign, and the byte behind it is a character of its own (a quotation mark, a slash, a line
// break); nor does a lead byte take a byte along that cannot be a trail byte.
TEST(FindText, UnitsAreTheCharactersOfTheCodePage) {
    const Text euro = "\x80";
    EXPECT_EQ(TextBetween("{\"text\":\"100" + euro + "\",\"index\":0}", "text\":\"", "\""), "100" + euro);
    EXPECT_EQ(FindText("欧元" + euro + "/美元", "/"), 5u);
    EXPECT_EQ(SplitText("100" + euro + "\r\nnext", "\r\n"), (TextList{"100" + euro, "next"}));
    EXPECT_EQ(FindText(euro + euro + "|", "|"), 2u);
    EXPECT_EQ(FindText("\x80\x81|", "|"), kNotFound);  // 81 7C is one character
    EXPECT_EQ(FindText("a\xD6\"", "\""), 2u);
    EXPECT_EQ(SplitText("\xD6\xD6\xD6\r\nnext", "\r\n"), (TextList{"\xD6\xD6\xD6", "next"}));
    EXPECT_EQ(FindText("\xD6\xD6\xD6/", "/"), 3u);
}

// The fast search (a byte search, then a look back over lead bytes) agrees with stepping unit by
// unit, on texts made of the bytes that decide alignment.
TEST(FindText, AgreesWithStepping) {
    static constexpr char kAlphabet[] = {'a', '|', '"', '\x80', '\x81', '\xD6', '\xA1', '\xFF', '@'};
    std::mt19937 random(12);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
    std::uniform_int_distribution<std::size_t> length(0, 12);
    const auto randomText = [&](std::size_t size) {
        Text t;
        for (std::size_t k = 0; k < size; ++k) {
            t.push_back(kAlphabet[pick(random)]);
        }
        return t;
    };
    for (int round = 0; round < 20000; ++round) {
        const Text text = randomText(length(random));
        const Text needle = randomText(1 + length(random) % 3);
        std::size_t from = 0;
        for (std::size_t skip = length(random) % 3; skip > 0 && from < text.size(); --skip) {
            from += GbkUnitLength(text, from);
        }
        std::size_t expected = kNotFound;
        for (std::size_t i = from; i < text.size(); i += GbkUnitLength(text, i)) {
            if (text.compare(i, needle.size(), needle) == 0 && i + needle.size() <= text.size()) {
                expected = i;
                break;
            }
        }
        ASSERT_EQ(FindText(text, needle, from), expected)
            << testing::PrintToString(text) << " " << testing::PrintToString(needle) << " from " << from;
    }
}

TEST(SplitText, SplitRules) {
    EXPECT_TRUE(SplitText("", "|").empty());
    EXPECT_EQ(SplitText("a||b|", "|"), (TextList{"a", "", "b"}));
    EXPECT_EQ(SplitText("|a", "|"), (TextList{"", "a"}));
    EXPECT_EQ(SplitText("a" + kTrailBar + "b|c", "|"), (TextList{"a" + kTrailBar + "b", "c"}));
    EXPECT_EQ(SplitText("abc", "<||>"), (TextList{"abc"}));
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanning) {
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("\r\n\r\n", "\r\n", "><br><"), "><br><><br><");
    EXPECT_EQ(ReplaceAll(kTrailBackslash + "u\\u", "\\u", "%u"), kTrailBackslash + "u%u");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(TextBetween, Markers) {
    EXPECT_EQ(TextBetween("a[1]b[2]", "[", "]"), "1");
    EXPECT_EQ(TextBetween("a[1]b[2]", "[", "]", 4), "2");
    EXPECT_EQ(TextBetween("a[]b", "[", "]"), "");
    EXPECT_EQ(TextBetween("a[1b", "[", "]"), "");
    EXPECT_EQ(TextBetween("a1]b", "[", "]"), "");
    EXPECT_EQ(TextBetween("{\"data\":\"tok\"}", "data#引号:#引号", "#引号"), "tok");
    EXPECT_EQ(TextBetween("<A>x</a>", "<a>", "</A>", 1, true), "x");
    EXPECT_EQ(TextBetween("<A>x</a>", "<a>", "</A>"), "");
    // The right marker as the trail byte of a character does not end the text.
    EXPECT_EQ(TextBetween("[" + kTrailBar + "|", "[", "|"), kTrailBar);
}

TEST(AllTextsBetween, CollectsEveryPieceAndHonoursOptions) {
    TextList items{"stale"};
    EXPECT_EQ(AllTextsBetween("<a><b>x<c>", "<", ">", items), 3);
    EXPECT_EQ(items, (TextList{"a", "b", "c"}));

    // Left markers everywhere, a right marker only after the first: one item; the next search
    // starts right behind the previous left marker, so overlapping pieces are found.
    EXPECT_EQ(AllTextsBetween("[[[x]", "[", "]", items), 3);
    EXPECT_EQ(items, (TextList{"[[x", "[x", "x"}));
    EXPECT_EQ(AllTextsBetween("[1 [2 [3]", "[", "]", items), 3);
    EXPECT_EQ(AllTextsBetween("[1] [2 3", "[", "]", items), 1);

    AllTextsOptions options;
    options.prefix = "<";
    options.suffix = ">";
    options.includeLeft = true;
    options.includeRight = true;
    options.lengthLimit = 7;
    EXPECT_EQ(AllTextsBetween("(a)(bb)(ccc)", "(", ")", items, options), 2);
    EXPECT_EQ(items, (TextList{"(<a>)", "(<bb>)"}));

    options = {};
    options.start = 4;
    EXPECT_EQ(AllTextsBetween("(a)(b)", "(", ")", items, options), 1);
    EXPECT_EQ(items, (TextList{"b"}));

    EXPECT_EQ(AllTextsBetween("no markers", "(", ")", items), 0);
    EXPECT_TRUE(items.empty());
}

TEST(AllTextsBetween, LetsTheWindowBreatheThreeTimesPerItem) {
    int calls = 0;
    SetPendingMessagesHook([&calls] { ++calls; });
    TextList items;
    AllTextsBetween("(a)(b)", "(", ")", items);
    SetPendingMessagesHook(nullptr);
    EXPECT_EQ(calls, 6);
}

TEST(TextLeftRightOf, DefaultBehaviour) {
    EXPECT_EQ(TextLeftOf("name<|>value", "<|>"), "name");
    EXPECT_EQ(TextRightOf("name<|>value", "<|>"), "value");
    EXPECT_EQ(TextRightOf("name<|>", "<|>"), "");
    EXPECT_EQ(TextLeftOf("novalue", "<|>"), "");
    EXPECT_EQ(TextRightOf("novalue", "<|>"), "");
    // An occurrence that ends on the last byte is not considered: the earlier one counts.
    EXPECT_EQ(TextRightOf("a----b----", "----"), "b----");
    EXPECT_EQ(TextRightOf("a----b----c", "----"), "c");
    EXPECT_EQ(TextLeftOf("a----b----c", "----"), "a");
    EXPECT_EQ(TextRightOf("", "x"), "");
    EXPECT_EQ(TextRightOf("x" + kTrailBar + "y", "|"), "");
}

TEST(TrimLineBreaks, ShrinksRunsOfEmptyLines) {
    EXPECT_EQ(TrimLineBreaks("a\r\n\r\n\r\nb"), "a\r\nb");
    EXPECT_EQ(TrimLineBreaks("a\r\nb"), "a\r\nb");
    EXPECT_EQ(TrimLineBreaks("\r\nabc\r\n"), "abc");
    // Only one CR LF goes at each end in the first two steps; the pattern then removes a CR that
    // begins a line and an LF that ends one, which can leave half a pair at the ends.
    EXPECT_EQ(TrimLineBreaks("\r\n\r\nabc\r\n\r\n"), "\nabc\r");
    EXPECT_EQ(TrimLineBreaks("\r\n\r\n\r\nx"), "\nx");
    EXPECT_EQ(TrimLineBreaks("x\r\n\r\n\r\n"), "x\r");
    EXPECT_EQ(TrimLineBreaks("\r\n"), "");
    EXPECT_EQ(TrimLineBreaks(""), "");
    // Lone line feeds and carriage returns: LF before a line end and CR after one go.
    EXPECT_EQ(TrimLineBreaks("a\n\nb"), "a\nb");
    EXPECT_EQ(TrimLineBreaks("a\r\rb"), "a\rb");
    EXPECT_EQ(TrimLineBreaks("第一段\r\n\r\n第二段"), "第一段\r\n第二段");
}

// The block-wise search agrees with a plain scan from every start, on texts of bytes next to the
// two it looks for and up to three blocks long.
TEST(FindLineBreak, AgreesWithAPlainScan) {
    static constexpr char kBytes[] = {'\r', '\n', '\x0B', '\x0C', '\x0E', '\x09', '\0', '\x8A', '\x8D', '\xFF', 'a'};
    std::mt19937 random(1310);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kBytes) - 1);
    std::uniform_int_distribution<std::size_t> length(0, 48);
    for (int round = 0; round < 20000; ++round) {
        Text text;
        for (std::size_t k = length(random); k > 0; --k) {
            text.push_back(round % 2 ? kBytes[pick(random)] : kBytes[2 + pick(random) % (std::size(kBytes) - 2)]);
        }
        if (round % 4 == 2 && !text.empty()) {
            text[random() % text.size()] = '\n';  // one among bytes that are none
        }
        for (std::size_t from = 0; from <= text.size(); ++from) {
            ASSERT_EQ(FindLineBreak(text, from), std::min(text.find_first_of("\r\n", from), text.size()))
                << testing::PrintToString(text) << " from " << from;
        }
    }
}

// The trimming reads line ends itself instead of running "(?:^\r|\n$)" (multi-line, global, through
// UTF-16) over the text; it must give exactly what the expression gives, for any text of line
// breaks, characters, bytes that are none and zero bytes; and so must the trimming of a text that
// has been through UTF-16 already.
TEST(TrimLineBreaks, AgreesWithTheMultiLineExpression) {
    const auto byExpression = [](std::string_view text) {
        if (text.starts_with("\r\n")) {
            text.remove_prefix(2);
        }
        if (text.ends_with("\r\n")) {
            text.remove_suffix(2);
        }
        RegexMatcher matcher;
        EXPECT_TRUE(matcher.Run("(?:^\\r|\\n$)", Text(text)));
        return matcher.Replace("");
    };
    // The expression's other line ends, U+2028 and U+2029, are no characters of the code page.
    EXPECT_EQ(Utf16ToGbk(u"\u2028\u2029"), "??");
    static const Text kPieces[] = {"\r",   "\n",   "\r\n", "a",        "中",       kTrailBackslash,
                                   "\xD6", "\x80", "\xFF", "\xA2\xA0", "\xA2\xAB", Text(1, '\0')};
    std::mt19937 random(2028);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 14);
    for (int round = 0; round < 20000; ++round) {
        Text text;
        for (int k = length(random); k > 0; --k) {
            text += kPieces[pick(random) % (round % 3 == 0 ? std::size(kPieces) : 3)];
        }
        const Text expected = byExpression(text);
        ASSERT_EQ(TrimLineBreaks(text), expected) << testing::PrintToString(text);
        ASSERT_EQ(TrimLineBreaksOfRoundTrip(GbkRoundTrip(text)), expected) << testing::PrintToString(text);
    }
}

TEST(JoinBytes, ConcatenatesWithZeroBytes) {
    EXPECT_EQ(JoinBytes({Bytes("a\0", 2), "", Bytes("\0b", 2)}), Bytes("a\0\0b", 4));
    EXPECT_EQ(JoinBytes({"", ""}), "");
}

TEST(TrimSpaces, StepsOverDoubleByteCharacters) {
    EXPECT_EQ(TrimSpaces(" \xA1\xA1 a b \xA1\xA1"), "a b");
    EXPECT_EQ(TrimSpaces("\r\n x \r\n"), "\r\n x \r\n");
    // "\xB0\xA1" is one character; the "\xA1" behind it is a lone byte, not half a full-width space.
    EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
    EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    EXPECT_EQ(TrimSpaces("   "), "");
}

}  // namespace
}  // namespace qj

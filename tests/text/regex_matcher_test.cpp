#include "text/regex_matcher.h"

#include <gtest/gtest.h>

namespace qj {
namespace {

TEST(RegexMatcher, InvalidPatternGivesEmptyAnswers) {
    RegexMatcher m;
    EXPECT_FALSE(m.Run("(unclosed", "subject"));
    EXPECT_EQ(m.MatchCount(), 0);
    EXPECT_EQ(m.Replace("x"), "");
    EXPECT_EQ(m.MatchText(1), "");
    EXPECT_EQ(m.SubmatchCount(), 0);
    EXPECT_EQ(m.GetPattern(), "");

    RegexMatcher fresh;
    EXPECT_EQ(fresh.Replace("x"), "");
    EXPECT_EQ(fresh.MatchCount(), 0);
}

TEST(RegexMatcher, DefaultsIgnoreCaseAreMultilineAndGlobal) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("^ab", "AB1\nab2\rAb3"));
    EXPECT_EQ(m.MatchCount(), 3);
    EXPECT_EQ(m.Replace("x"), "x1\nx2\rx3");

    ASSERT_TRUE(m.Run("^ab", "AB1\nab2", true));
    EXPECT_EQ(m.MatchCount(), 1);

    ASSERT_TRUE(m.Run("^ab", "ab1\nab2", false, false));
    EXPECT_EQ(m.Replace("x"), "x1\nab2");

    ASSERT_TRUE(m.Run("a", "aaa", false, true, false));
    EXPECT_EQ(m.MatchCount(), 1);
    EXPECT_EQ(m.Replace("b"), "baa");
}

TEST(RegexMatcher, EveryCrAndLfIsALineTerminator) {
    RegexMatcher m;
    // Between CR and LF is a line boundary of its own: ^ matches there, and $ before the CR.
    ASSERT_TRUE(m.Run("^", "a\r\nb"));
    EXPECT_EQ(m.Replace("|"), "|a\r|\n|b");
    ASSERT_TRUE(m.Run("$", "a\r\nb"));
    EXPECT_EQ(m.Replace("|"), "a|\r|\nb|");
    // Without multi-line, $ matches only at the very end (not before a final line feed).
    ASSERT_TRUE(m.Run("b$", "b\n", false, false));
    EXPECT_EQ(m.MatchCount(), 0);
    // The dot never matches a line break, not even a lone CR.
    ASSERT_TRUE(m.Run("a.b", "a\rb a\nb axb"));
    EXPECT_EQ(m.MatchCount(), 1);
    EXPECT_EQ(m.MatchText(1), "axb");
}

TEST(RegexMatcher, ReplacementReferences) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("(\\w+)@(\\w+)", "me@host you@there"));
    EXPECT_EQ(m.Replace("$2.$1"), "host.me there.you");
    EXPECT_EQ(m.Replace("[$&]"), "[me@host] [you@there]");
    EXPECT_EQ(m.Replace("$$1"), "$1 $1");
    EXPECT_EQ(m.Replace("$3$0$"), "$3$0$ $3$0$");
    EXPECT_EQ(m.Replace("$12"), "me2 you2");  // no group 12: group 1 followed by "2"
    ASSERT_TRUE(m.Run("b", "abc"));
    EXPECT_EQ(m.Replace("<$`|$'>"), "a<a|c>c");
    // A group that did not take part is empty text.
    ASSERT_TRUE(m.Run("(x)?y", "y"));
    EXPECT_EQ(m.Replace("[$1]"), "[]");
}

TEST(RegexMatcher, EmptyMatchesAdvanceOneCharacter) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("x*", "ab"));
    EXPECT_EQ(m.MatchCount(), 3);
    EXPECT_EQ(m.Replace("-"), "-a-b-");
    ASSERT_TRUE(m.Run("x*", "中文"));
    EXPECT_EQ(m.Replace("-"), "-中-文-");
}

TEST(RegexMatcher, PositionsAreByteOffsetsInTheGbkSubject) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("(b)(c)?", "中文ab 中b"));
    ASSERT_EQ(m.MatchCount(), 2);
    int position = 0;
    EXPECT_EQ(m.MatchText(1, &position), "b");
    EXPECT_EQ(position, 5);  // the engine's offset is 3 units; two characters before it take 4 bytes
    EXPECT_EQ(m.MatchText(2, &position), "b");
    EXPECT_EQ(position, 9);
    EXPECT_EQ(m.SubmatchCount(), 2);
    EXPECT_EQ(m.SubmatchText(1, 1, &position), "b");
    EXPECT_EQ(position, 5);
    EXPECT_EQ(m.SubmatchText(1, 2, &position), "");
    EXPECT_EQ(position, -1);
    EXPECT_EQ(m.MatchText(3, &position), "");
    EXPECT_EQ(position, -1);
    EXPECT_EQ(m.SubmatchText(1, 0), "");
    EXPECT_EQ(m.SubmatchText(1, 3), "");
}

TEST(RegexMatcher, QuotePlaceholderAndPattern) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("a#引号b", "a\"b", false, true, true, true));
    EXPECT_EQ(m.MatchCount(), 1);
    EXPECT_EQ(m.GetPattern(), "a\"b");
    ASSERT_TRUE(m.Run("a#引号b", "a\"b a#引号b"));
    EXPECT_EQ(m.MatchText(1), "a#引号b");
    EXPECT_EQ(m.GetPattern(), "a#引号b");
}

TEST(RegexMatcher, EcmaScriptSyntax) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("\\u4e2d", "中文"));  // \uXXXX escapes
    EXPECT_EQ(m.MatchCount(), 1);
    ASSERT_TRUE(m.Run("[^]", "a\nb"));
    EXPECT_EQ(m.MatchCount(), 3);
    ASSERT_TRUE(m.Run("a[]", "a"));
    EXPECT_EQ(m.MatchCount(), 0);
    ASSERT_TRUE(m.Run("[.^$]", ".^$"));
    EXPECT_EQ(m.MatchCount(), 3);
}

// Pattern -> accepted, and when accepted what the first match of a subject is (nullptr: none).
// Syntax that PCRE2 knows and the script dialect refuses must fail, not quietly mean PCRE2's thing.
TEST(RegexMatcher, DialectTable) {
    struct Row {
        const char* pattern;
        bool accepted;
        const char* subject;
        const char* match;
    };
    const Row rows[] = {
        // A backreference to a group that did not take part (or has not yet) matches empty.
        {"(a)?b\\1", true, "b", "b"},
        {"\\1(a)", true, "a", "a"},
        {"(a)|b\\1", true, "b", "b"},
        {"(a)\\1", true, "aa", "aa"},
        // Decimal escapes beyond the group count are octal escapes; 8 and 9 stand for themselves.
        {"\\1", true, "x\x01y", "\x01"},
        {"a\\12", true, "a\n", "a\n"},
        {"(x)\\12", true, "x\n", "x\n"},
        {"\\8\\9", true, "89", "89"},
        {"\\101\\1012", true, "AA2", "AA2"},
        {"\\477", true, "'7", "'7"},
        {"[\\101]", true, "A", "A"},
        {"\\0", true, "a", nullptr},
        // Quantifiers behind quantifiers and anchors.
        {"a*+", false, nullptr, nullptr},
        {"a++b", false, nullptr, nullptr},
        {"a?+", false, nullptr, nullptr},
        {"a{2}+", false, nullptr, nullptr},
        {"a*?+", false, nullptr, nullptr},
        {"a*?", true, "aa", ""},
        {"a{2}?", true, "aaa", "aa"},
        {"^*", false, nullptr, nullptr},
        {"x$?", false, nullptr, nullptr},
        {"^{2}", false, nullptr, nullptr},
        {"\\b+", false, nullptr, nullptr},
        {"(?=a)*a", true, "a", "a"},
        {"^{a", true, "{a", "{a"},
        {"a{,2}", true, "a{,2}", "a{,2}"},
        {"x{2", true, "x{2", "x{2"},
        // Group forms: only non-capturing groups and lookaheads.
        {"(?:a)(?=b)(?!c)", true, "ab", "a"},
        {"(?>a)", false, nullptr, nullptr},
        {"(?<n>a)", false, nullptr, nullptr},
        {"(?P<n>a)", false, nullptr, nullptr},
        {"(?<=a)b", false, nullptr, nullptr},
        {"(?i)a", false, nullptr, nullptr},
        {"(?#note)a", false, nullptr, nullptr},
        {"(?|a)", false, nullptr, nullptr},
        {"(*UTF)a", false, nullptr, nullptr},
        {"(?", false, nullptr, nullptr},
        // Letter escapes of PCRE2 alone.
        {"\\Aa", false, nullptr, nullptr},
        {"a\\Z", false, nullptr, nullptr},
        {"a\\z", false, nullptr, nullptr},
        {"\\Ga", false, nullptr, nullptr},
        {"a\\Kb", false, nullptr, nullptr},
        {"\\Qa.\\E", false, nullptr, nullptr},
        {"\\h", false, nullptr, nullptr},
        {"\\R", false, nullptr, nullptr},
        {"\\X", false, nullptr, nullptr},
        {"\\N", false, nullptr, nullptr},
        {"\\p{L}", false, nullptr, nullptr},
        {"\\e", false, nullptr, nullptr},
        {"(a)\\g1", false, nullptr, nullptr},
        {"(a)\\k<1>", false, nullptr, nullptr},
        {"\\o{101}", false, nullptr, nullptr},
        {"[\\h]", false, nullptr, nullptr},
        {"\\c1", false, nullptr, nullptr},
        {"\\cJ", true, "a\nb", "\n"},
        // Escapes whose PCRE2 meaning differs: \v is the vertical tab alone.
        {"\\v", true, "\r\n\x0B", "\x0B"},
        {"[\\v]", true, "\n\x0B", "\x0B"},
        {"\\x41\\u0042", true, "AB", "AB"},
        {"\\x{2}", true, "xx", "xx"},
        {"\\-\\.", true, "-.", "-."},
        // A "[" in a class is a character, never a POSIX class.
        {"[[:a]+", true, "b:a[", ":a["},
        {"[a-c]]", true, "b]", "b]"},
        {"\\", false, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pattern);
        RegexMatcher m;
        const bool accepted = m.Run(row.pattern, row.subject ? row.subject : "", true);
        EXPECT_EQ(accepted, row.accepted);
        if (!accepted || !row.accepted) {
            continue;
        }
        if (!row.match) {
            EXPECT_EQ(m.MatchCount(), 0);
        } else if (m.MatchCount() < 1) {
            ADD_FAILURE() << "no match";
        } else {
            EXPECT_EQ(m.MatchText(1), row.match);
        }
    }
}

TEST(RegexMatcher, CopiesShareMatchesAndKeepTheirOwnSubject) {
    RegexMatcher m;
    ASSERT_TRUE(m.Run("o", "foo"));
    RegexMatcher copy(m);
    ASSERT_TRUE(m.Run("x", "xyz"));
    EXPECT_EQ(copy.MatchCount(), 2);
    EXPECT_EQ(copy.Replace("0"), "f00");
    EXPECT_EQ(m.Replace("_"), "_yz");
}

}  // namespace
}  // namespace qj

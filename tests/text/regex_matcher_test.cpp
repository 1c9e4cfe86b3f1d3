#include "text/regex_matcher.h"

#include <gtest/gtest.h>

#include "text/regex_engine.h"

namespace qj {
namespace {

// Every case runs on each engine the build has: the answers must not depend on the engine.
struct Engine {
    const char* name;
    const RegexEngine* engine;
};

void PrintTo(const Engine& engine, std::ostream* out) {
    *out << engine.name;
}

class RegexMatcherTest : public ::testing::TestWithParam<Engine> {
protected:
    RegexMatcher Make() const { return RegexMatcher(*GetParam().engine); }
};

const Engine kEngines[] = {
#if QJ_REGEX_HAVE_PCRE2
    {"Pcre2", &Pcre2RegexEngine()},
#endif
    {"Std", &StdRegexEngine()},
};

INSTANTIATE_TEST_SUITE_P(Engines, RegexMatcherTest, ::testing::ValuesIn(kEngines),
                         [](const ::testing::TestParamInfo<Engine>& info) { return info.param.name; });

TEST_P(RegexMatcherTest, InvalidPatternGivesEmptyAnswers) {
    RegexMatcher m = Make();
    EXPECT_FALSE(m.Run("(unclosed", "subject"));
    EXPECT_EQ(m.MatchCount(), 0);
    EXPECT_EQ(m.Replace("x"), "");
    EXPECT_EQ(m.MatchText(1), "");
    EXPECT_EQ(m.SubmatchCount(), 0);
    EXPECT_EQ(m.GetPattern(), "");

    RegexMatcher fresh = Make();
    EXPECT_EQ(fresh.Replace("x"), "");
    EXPECT_EQ(fresh.MatchCount(), 0);
}

TEST_P(RegexMatcherTest, DefaultsIgnoreCaseAreMultilineAndGlobal) {
    RegexMatcher m = Make();
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

TEST_P(RegexMatcherTest, EveryCrAndLfIsALineTerminator) {
    RegexMatcher m = Make();
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

TEST_P(RegexMatcherTest, ReplacementReferences) {
    RegexMatcher m = Make();
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

TEST_P(RegexMatcherTest, EmptyMatchesAdvanceOneCharacter) {
    RegexMatcher m = Make();
    ASSERT_TRUE(m.Run("x*", "ab"));
    EXPECT_EQ(m.MatchCount(), 3);
    EXPECT_EQ(m.Replace("-"), "-a-b-");
    ASSERT_TRUE(m.Run("x*", "中文"));
    EXPECT_EQ(m.Replace("-"), "-中-文-");
}

TEST_P(RegexMatcherTest, PositionsAreByteOffsetsInTheGbkSubject) {
    RegexMatcher m = Make();
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

TEST_P(RegexMatcherTest, QuotePlaceholderAndPattern) {
    RegexMatcher m = Make();
    ASSERT_TRUE(m.Run("a#引号b", "a\"b", false, true, true, true));
    EXPECT_EQ(m.MatchCount(), 1);
    EXPECT_EQ(m.GetPattern(), "a\"b");
    ASSERT_TRUE(m.Run("a#引号b", "a\"b a#引号b"));
    EXPECT_EQ(m.MatchText(1), "a#引号b");
    EXPECT_EQ(m.GetPattern(), "a#引号b");
}

TEST_P(RegexMatcherTest, EcmaScriptSyntax) {
    RegexMatcher m = Make();
    ASSERT_TRUE(m.Run("\\u4e2d", "中文"));  // \uXXXX escapes
    EXPECT_EQ(m.MatchCount(), 1);
    ASSERT_TRUE(m.Run("[^]", "a\nb"));
    EXPECT_EQ(m.MatchCount(), 3);
    ASSERT_TRUE(m.Run("a[]", "a"));
    EXPECT_EQ(m.MatchCount(), 0);
    ASSERT_TRUE(m.Run("[.^$]", ".^$"));
    EXPECT_EQ(m.MatchCount(), 3);
}

// Syntax that PCRE2 knows and the script dialect refuses must fail, not quietly mean PCRE2's
// thing; what the dialect accepts must mean what it means there.
TEST_P(RegexMatcherTest, DialectTable) {
    const char* refused[] = {
        // A quantifier behind a quantifier (possessive, or a lazy one quantified) or an anchor.
        "a*+", "a++b", "a?+", "a{2}+", "a*?+", "^*", "x$?", "^{2}", "\\b+",
        // Group forms other than non-capturing groups and lookaheads; verbs.
        "(?>a)", "(?<n>a)", "(?P<n>a)", "(?<=a)b", "(?i)a", "(?#note)a", "(?|a)", "(*UTF)a", "(?",
        // Letter escapes of PCRE2 alone, in and out of classes; \c without a letter; a lone backslash.
        "\\Aa", "a\\Z", "a\\z", "\\Ga", "a\\Kb", "\\Qa.\\E", "\\h", "\\R", "\\X", "\\N", "\\p{L}", "\\e", "(a)\\g1",
        "(a)\\k<1>", "\\o{101}", "[\\h]", "\\c1", "\\"};
    for (const char* pattern : refused) {
        RegexMatcher m = Make();
        EXPECT_FALSE(m.Run(pattern, "a")) << pattern;
    }

    struct Row {
        const char* pattern;
        const char* subject;
        const char* match;  // the first match, nullptr for none
    };
    const Row accepted[] = {
        // A backreference to a group that did not take part (or has not yet) matches empty.
        {"(a)?b\\1", "b", "b"},
        {"\\1(a)", "a", "a"},
        {"(a)|b\\1", "b", "b"},
        {"(a)\\1", "aa", "aa"},
        // Decimal escapes beyond the group count are octal escapes; 8 and 9 stand for themselves.
        {"\\1", "x\x01y", "\x01"},
        {"a\\12", "a\n", "a\n"},
        {"(x)\\12", "x\n", "x\n"},
        {"\\8\\9", "89", "89"},
        {"\\101\\1012", "AA2", "AA2"},
        {"\\477", "'7", "'7"},
        {"[\\101]", "A", "A"},
        {"\\0", "a", nullptr},
        // Lazy quantifiers, quantified lookaheads, braces that are no quantifier.
        {"a*?", "aa", ""},
        {"a{2}?", "aaa", "aa"},
        {"(?=a)*a", "a", "a"},
        {"^{a", "{a", "{a"},
        {"a{,2}", "a{,2}", "a{,2}"},
        {"x{2", "x{2", "x{2"},
        {"(?:a)(?=b)(?!c)", "ab", "a"},
        // Escapes: \v is the vertical tab alone; \x and \u without their digits are letters.
        {"\\cJ", "a\nb", "\n"},
        {"\\v", "\r\n\x0B", "\x0B"},
        {"[\\v]", "\n\x0B", "\x0B"},
        {"\\x41\\u0042", "AB", "AB"},
        {"\\x{2}", "xx", "xx"},
        {"\\-\\.", "-.", "-."},
        // A "[" in a class is a character, never a POSIX class.
        {"[[:a]+", "b:a[", ":a["},
        {"[a-c]]", "b]", "b]"},
    };
    for (const Row& row : accepted) {
        SCOPED_TRACE(row.pattern);
        RegexMatcher m = Make();
        ASSERT_TRUE(m.Run(row.pattern, row.subject, true));
        if (!row.match) {
            EXPECT_EQ(m.MatchCount(), 0);
        } else if (m.MatchCount() < 1) {
            ADD_FAILURE() << "no match";
        } else {
            EXPECT_EQ(m.MatchText(1), row.match);
        }
    }
}

TEST_P(RegexMatcherTest, CopiesShareMatchesAndKeepTheirOwnSubject) {
    RegexMatcher m = Make();
    ASSERT_TRUE(m.Run("o", "foo"));
    RegexMatcher copy(m);
    ASSERT_TRUE(m.Run("x", "xyz"));
    EXPECT_EQ(copy.MatchCount(), 2);
    EXPECT_EQ(copy.Replace("0"), "f00");
    EXPECT_EQ(m.Replace("_"), "_yz");
}

}  // namespace
}  // namespace qj

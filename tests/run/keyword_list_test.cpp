// Keyword lists saved as GBK, UTF-8 or UTF-16: how they are told apart, read, and written back.

#include "run/keyword_list.h"

#include <gtest/gtest.h>

#include <random>

#include "run/keyword_queue.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

const Bytes kBom = "\xEF\xBB\xBF";
const Bytes kGrin = "\xF0\x9F\x98\x80";  // an emoji, which GBK lacks
constexpr ListEncoding kGbk = ListEncoding::kGbk;
constexpr ListEncoding kUtf8 = ListEncoding::kUtf8;
constexpr ListEncoding kLe = ListEncoding::kUtf16Le;
constexpr ListEncoding kBe = ListEncoding::kUtf16Be;

Bytes U(const Text& gbk) {
    return AnsiToUtf8(gbk);
}

TEST(ListFormat, TheBytesDecide) {
    const struct {
        Bytes bytes;
        ListFormat format;
    } cases[] = {
        {"", {kGbk, 0}},
        {"plain ascii\r\n", {kGbk, 0}},
        {"泡脚\r\n", {kGbk, 0}},           // GBK bytes are not valid UTF-8
        {U("泡脚") + "\r\n", {kUtf8, 0}},  // valid UTF-8 with multi-byte sequences
        {kBom, {kUtf8, 3}},                // the mark alone, as editors save an empty list
        {kBom + "ascii\r\n", {kUtf8, 3}},
        {kBom + "\xFF\r\n", {kUtf8, 3}},    // the mark decides, broken bytes or not
        {"\xC0\xAF\r\n", {kGbk, 0}},        // an overlong form is no UTF-8
        {"\xED\xA0\x80\r\n", {kGbk, 0}},    // nor is a surrogate
        {U("甲") + "\xE4\xB8", {kGbk, 0}},  // nor a sequence cut short
        {"\xFF\xFE", {kLe, 2}},             // Notepad's "Unicode", empty
        {Bytes("\xFF\xFE" "a\0", 4), {kLe, 2}},
        {Bytes("\xFE\xFF\0a", 4), {kBe, 2}},
        // Valid both ways: GBK's 杀 (C9 B1) and 路 (C2 B7) read as UTF-8 are IPA and Latin-1.
        {"杀0\r\n路\r\n", {kGbk, 0}},
        // UTF-8 Chinese with a Latin-1 dot between the names is Chinese still.
        {U("路易·威登") + "\r\n", {kUtf8, 0}},
        {kGrin + "\r\n", {kUtf8, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectListFormat(c.bytes), c.format) << c.bytes;
    }
}

// Every two-byte GBK character whose bytes are a valid two-byte UTF-8 sequence (about 930 of the
// common Chinese characters among them) in lists of any mix with ASCII: always GBK. And lists of
// common Chinese characters saved as UTF-8: always UTF-8, however short.
TEST(ListFormat, ListsValidBothWaysAreReadAsWhatTheyAre) {
    std::vector<Text> ambiguous;
    for (int lead = 0xC2; lead <= 0xDF; ++lead) {
        for (int trail = 0x80; trail <= 0xBF; ++trail) {
            const Text pair{static_cast<char>(lead), static_cast<char>(trail)};
            if (GbkRoundTrip(pair) == pair) {
                ambiguous.push_back(pair);
            }
        }
    }
    ASSERT_GT(ambiguous.size(), 1900u);
    std::vector<Text> common;  // the 3,755 characters of GB2312's first level
    for (int lead = 0xB0; lead <= 0xD7; ++lead) {
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
            const Text pair{static_cast<char>(lead), static_cast<char>(trail)};
            if (GbkRoundTrip(pair) == pair) {
                common.push_back(pair);
            }
        }
    }
    const std::string ascii = "0123456789abcXYZ -";
    std::mt19937 random(20);
    auto list = [&](const std::vector<Text>& characters) {
        Text text;
        for (int line = 1 + static_cast<int>(random() % 4); line > 0; --line) {
            text += characters[random() % characters.size()];
            for (int n = static_cast<int>(random() % 6); n > 0; --n) {
                text += random() % 4 == 0 ? Text(1, ascii[random() % ascii.size()])
                                          : characters[random() % characters.size()];
            }
            text += "\r\n";
        }
        return text;
    };
    for (int i = 0; i < 20000; ++i) {
        const Text gbk = list(ambiguous);
        ASSERT_EQ(DetectListFormat(gbk), ListFormat{}) << gbk << " read as UTF-8: " << Utf8ToAnsi(gbk);
        const Bytes utf8 = U(list(common));
        ASSERT_EQ(DetectListFormat(utf8), (ListFormat{kUtf8, 0})) << Utf8ToAnsi(utf8) << " read as GBK";
    }
}

TEST(ListFormat, LinesBlanksAndAppendingKeepEveryOtherByte) {
    // "中" in UTF-8 ends in a byte that GBK takes for a lead byte: read as GBK it would eat the CR.
    const Bytes utf8 = U("中") + "\r\n" + U("文") + "\n";
    EXPECT_EQ(ListLines(utf8, kUtf8), (std::vector<Bytes>{U("中"), U("文")}));
    EXPECT_EQ(ListLines("誠\r\nx", kGbk), (std::vector<Bytes>{"誠", "x"}));  // a trail byte 0x5C ends nothing
    // UTF-16 is cut between units only: 上 is 0A 4E little endian, 一 is 4E 00 big endian.
    EXPECT_EQ(ListLines(LineFromKeyword("上\r\n一\n", kLe) + "x", kLe),
              (std::vector<Bytes>{LineFromKeyword("上", kLe), LineFromKeyword("一", kLe), "x"}));
    EXPECT_EQ(ListLines(LineFromKeyword("一\r\n\r\n上", kBe), kBe),
              (std::vector<Bytes>{LineFromKeyword("一", kBe), "", LineFromKeyword("上", kBe)}));

    for (const ListEncoding e : {kGbk, kUtf8, kLe, kBe}) {
        EXPECT_TRUE(IsBlankLine(LineFromKeyword(" \t　 ", e), e)) << EncodingName(e);
        EXPECT_TRUE(IsBlankLine("", e));
        EXPECT_FALSE(IsBlankLine(LineFromKeyword(" 甲 ", e), e));
    }

    const struct {
        Bytes list, ready;
    } cases[] = {
        {"", ""},
        {"a\r\nb\r\n\r\n\r\n", "a\r\nb\r\n"},
        {"a\r\nb\r\n  \r\n\t\r\n", "a\r\nb\r\n"},  // blank lines count as empty
        {"a\r\n \r\nb\r\n", "a\r\n \r\nb\r\n"},    // only those at the end go
        {"a\nb", "a\nb\n"},                        // an LF list gets LF
        {"a\rb\r\n", "a\rb\r\n"},
        {kBom, kBom},
        {kBom + "\r\n", kBom},
        {kBom + U("甲") + "\r\n\r\n", kBom + U("甲") + "\r\n"},
        {"\xFF\xFE", "\xFF\xFE"},
        {Bytes("\xFF\xFE") + "a", Bytes("\xFF\xFE") + Bytes("a\0\r\0\n\0", 6)},  // a unit cut short is made whole
        {"\xFF\xFE" + LineFromKeyword("甲\n \n", kLe), "\xFF\xFE" + LineFromKeyword("甲\n", kLe)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListToAppendTo(c.list, DetectListFormat(c.list)), c.ready) << c.list;
    }
}

// The queue over a UTF-8 list: the program sees GBK keywords, the list only ever its own bytes.
TEST(Utf8List, LinesGoBackWithTheBytesTheyHad) {
    testing::TemporaryHome home;
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    const Bytes list = kBom + U("甲") + kGrin + "\r\n" + U("乙") + "\r\n";
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, list));
    {
        KeywordQueue crashed(paths, std::chrono::hours(1));
        const KeywordQueue::Taken taken = *crashed.TakeNextKeyword();
        EXPECT_EQ(taken.keyword, "甲?");
        EXPECT_TRUE(taken.lossy);
        ASSERT_TRUE(crashed.Flush());
        EXPECT_EQ(ReadFileBytes(paths.keywordList), kBom + U("乙") + "\r\n");
    }
    KeywordQueue queue(paths, std::chrono::hours(1));
    EXPECT_EQ(*queue.Recover(), 1);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);

    EXPECT_EQ(queue.TakeNextKeyword()->keyword, "甲?");
    const KeywordQueue::Taken second = *queue.TakeNextKeyword();
    EXPECT_EQ(second.keyword, "乙");
    EXPECT_FALSE(second.lossy);
    EXPECT_EQ(queue.RemainingCount(), 2);
    EXPECT_TRUE(queue.Return("乙"));
    EXPECT_TRUE(queue.Return("甲?"));
    ASSERT_TRUE(queue.Flush());
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);
}

// The encoding is decided when the run reads the list, and a kill does not change it: what the
// recovery puts back is read as the run read it, though the rest alone would read otherwise.
// Files of two encodings joined into one list: the run ends where the second begins.
TEST(ListEncodingOfARun, StaysTheSameAcrossAKillAndEndsWhereAnotherBegins) {
    testing::TemporaryHome home;
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    // Read whole it is UTF-8; its last line alone ("café", whose é is C3 A9, 茅 in GBK) reads as GBK.
    const Bytes cafe = "caf\xC3\xA9\r\n";
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, U("表情") + "\r\n" + cafe));
    ASSERT_EQ(DetectListFormat(cafe).encoding, kGbk);
    {
        KeywordQueue crashed(paths, std::chrono::hours(1));
        EXPECT_EQ(crashed.TakeNextKeyword()->keyword, "表情");
        ASSERT_TRUE(crashed.Flush());
        EXPECT_EQ(ReadFileBytes(paths.keywordList), cafe);
    }
    {
        KeywordQueue queue(paths, std::chrono::hours(1));
        EXPECT_EQ(*queue.Recover(), 1);
        EXPECT_EQ(queue.Format().encoding, kUtf8);
        EXPECT_EQ(queue.TakeNextKeyword()->keyword, "表情");
        EXPECT_EQ(queue.TakeNextKeyword()->keyword, "caf\xA8\xA6");  // é of GBK's pinyin row
        EXPECT_TRUE(queue.Finish("表情"));
        EXPECT_TRUE(queue.Finish("caf\xA8\xA6"));
        ASSERT_TRUE(queue.Flush());
    }

    // A GBK list with a UTF-16 file appended: the line with the mark stays, and the next run
    // reads from it on as UTF-16.
    const Bytes utf16 = "\xFF\xFE" + LineFromKeyword("丙\r\n丁\r\n", kLe);
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, "甲\r\n" + utf16));
    KeywordQueue joined(paths, std::chrono::hours(1));
    ASSERT_TRUE(joined.TryLockRun());
    EXPECT_EQ(joined.TakeNextKeyword()->keyword, "甲");
    const KeywordQueue::Taken end = *joined.TakeNextKeyword();
    EXPECT_EQ(end.kind, KeywordQueue::Taken::Kind::kEnd);
    EXPECT_EQ(end.halt, KeywordQueue::Taken::Halt::kOtherEncoding);
    EXPECT_EQ(end.other, kLe);
    EXPECT_EQ(end.keywordsBehind, 2);
    EXPECT_TRUE(joined.Finish("甲"));
    joined.UnlockRun();
    EXPECT_EQ(ReadFileBytes(paths.keywordList), utf16);
    ASSERT_TRUE(joined.TryLockRun());
    EXPECT_EQ(joined.TakeNextKeyword()->keyword, "丙");
    EXPECT_EQ(joined.Format(), (ListFormat{kLe, 2}));
    joined.UnlockRun();
}

}  // namespace
}  // namespace qj

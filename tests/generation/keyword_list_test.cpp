// Keyword lists saved as UTF-8 or GBK: how they are told apart, read, and written back.

#include "generation/keyword_list.h"

#include <gtest/gtest.h>

#include "generation/keyword_queue.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

const Bytes kBom = "\xEF\xBB\xBF";
const Bytes kGrin = "\xF0\x9F\x98\x80";  // an emoji, which GBK lacks

Bytes U(const Text& gbk) {
    return AnsiToUtf8(gbk);
}

TEST(ListFormat, TheBytesDecide) {
    const struct {
        Bytes bytes;
        ListFormat format;
    } cases[] = {
        {"", {false, 0}},
        {"plain ascii\r\n", {false, 0}},
        {"泡脚\r\n", {false, 0}},         // GBK bytes are not valid UTF-8
        {U("泡脚") + "\r\n", {true, 0}},  // valid UTF-8 with multi-byte sequences
        {kBom, {true, 3}},                // the mark alone, as editors save an empty list
        {kBom + "ascii\r\n", {true, 3}},
        {kBom + "\xFF\r\n", {true, 3}},      // the mark decides, broken bytes or not
        {"\xC0\xAF\r\n", {false, 0}},        // an overlong form is no UTF-8
        {"\xED\xA0\x80\r\n", {false, 0}},    // nor is a surrogate
        {U("甲") + "\xE4\xB8", {false, 0}},  // nor a sequence cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectListFormat(c.bytes), c.format) << c.bytes;
    }
}

TEST(ListFormat, LinesAndAppendingKeepEveryOtherByte) {
    // "中" in UTF-8 ends in a byte that GBK takes for a lead byte: read as GBK it would eat the CR.
    const Bytes utf8 = U("中") + "\r\n" + U("文") + "\n";
    EXPECT_EQ(ListLines(utf8, true), (TextList{U("中"), U("文")}));
    EXPECT_EQ(ListLines("誠\r\nx", false), (TextList{"誠", "x"}));  // a trail byte 0x5C ends nothing

    const struct {
        Bytes list, ready;
    } cases[] = {
        {"", ""},
        {"a\r\nb\r\n\r\n\r\n", "a\r\nb\r\n"},
        {"a\nb", "a\nb\n"},  // an LF list gets LF
        {"a\rb\r\n", "a\rb\r\n"},
        {kBom, kBom},
        {kBom + "\r\n", kBom},
        {kBom + U("甲") + "\r\n\r\n", kBom + U("甲") + "\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListToAppendTo(c.list), c.ready) << c.list;
    }
}

// The queue over a UTF-8 list: the program sees GBK keywords, the list only ever its own bytes.
TEST(Utf8List, LinesGoBackWithTheBytesTheyHad) {
    testing::TemporaryHome home;
    ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    const Bytes list = kBom + U("甲") + kGrin + "\r\n" + U("乙") + "\r\n";
    ASSERT_FALSE(ReplaceFileContents(paths.keywordList, list));
    {
        KeywordQueue crashed(paths, std::chrono::hours(1));
        const KeywordQueue::Taken taken = crashed.TakeNextKeyword();
        EXPECT_EQ(taken.keyword, "甲?");
        EXPECT_TRUE(taken.lossy);
        ASSERT_FALSE(crashed.Flush());
        EXPECT_EQ(ReadFileBytes(paths.keywordList), kBom + U("乙") + "\r\n");
    }
    KeywordQueue queue(paths, std::chrono::hours(1));
    EXPECT_EQ(queue.Recover(), 1);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);

    EXPECT_EQ(queue.TakeNextKeyword().keyword, "甲?");
    const KeywordQueue::Taken second = queue.TakeNextKeyword();
    EXPECT_EQ(second.keyword, "乙");
    EXPECT_FALSE(second.lossy);
    EXPECT_EQ(queue.RemainingCount(), 2);
    EXPECT_FALSE(queue.Return("乙"));
    EXPECT_FALSE(queue.Return("甲?"));
    ASSERT_FALSE(queue.Flush());
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);
}

}  // namespace
}  // namespace qj

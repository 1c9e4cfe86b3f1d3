#include "generation/keyword_queue.h"

#include <gtest/gtest.h>

#include "app/program_folder.h"
#include "file_size_limit.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

class KeywordQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi"))); }

    void WriteList(const Bytes& contents) { ASSERT_FALSE(ReplaceFileContents(paths_.keywordList, contents)); }
    Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }

    testing::TemporaryHome home_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
    KeywordQueue queue_{paths_};
};

TEST(FirstLine, LineEnds) {
    EXPECT_EQ(ReadFirstLine("ab\r\ncd").line, "ab");
    EXPECT_EQ(ReadFirstLine("ab\r\ncd").terminatorLength, 2u);
    EXPECT_EQ(ReadFirstLine("ab\ncd").terminatorLength, 1u);
    EXPECT_EQ(ReadFirstLine("ab\rcd").terminatorLength, 1u);
    EXPECT_EQ(ReadFirstLine("ab").terminatorLength, 0u);
    EXPECT_EQ(ReadFirstLine(std::string_view("a\0b", 3)).line, "a");
    EXPECT_EQ(ReadFirstLine("\r\nx").line, "");
    EXPECT_EQ(ListLines("a\r\n\r\nb\nc\r"), (TextList{"a", "", "b", "c"}));
}

TEST_F(KeywordQueueTest, TakesLinesInOrderAndEndsAtAnEmptyLine) {
    WriteList("甲\r\n\r\n乙\r\n");
    auto taken = queue_.TakeNextKeyword();
    ASSERT_EQ(taken.kind, KeywordQueue::Taken::Kind::kKeyword);
    EXPECT_EQ(taken.keyword, "甲");
    EXPECT_EQ(Read(paths_.keywordList), "\r\n乙\r\n");
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"甲"}));
    EXPECT_FALSE(queue_.Finish("甲"));
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kEnd);
    EXPECT_EQ(Read(paths_.keywordList), "乙\r\n");
}

TEST_F(KeywordQueueTest, LfOnlyAndLastLineWithoutEnd) {
    WriteList("one\ntwo\rthree");
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "one");
    EXPECT_EQ(Read(paths_.keywordList), "two\rthree");  // nothing of the next keyword is eaten
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "two");
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "three");
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kEnd);
}

TEST_F(KeywordQueueTest, MissingListEndsTheRun) {
    EXPECT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kEnd);
}

TEST_F(KeywordQueueTest, InterruptedKeywordsGoBackToTheFront) {
    WriteList("a\r\nb\r\nc\r\n");
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "a");
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "b");
    // A new queue, as after a crash: the journal still names a and b.
    KeywordQueue afterCrash(paths_);
    EXPECT_EQ(afterCrash.Recover(), 2);
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(afterCrash.Recover(), 0);

    EXPECT_EQ(afterCrash.TakeNextKeyword().keyword, "a");
    EXPECT_FALSE(afterCrash.Return("a"));
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST_F(KeywordQueueTest, FinishSettlesOneOccurrence) {
    WriteList("x\r\nx\r\ny\r\n");
    ASSERT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kKeyword);
    ASSERT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kKeyword);
    ASSERT_EQ(queue_.TakeNextKeyword().kind, KeywordQueue::Taken::Kind::kKeyword);
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"x", "x", "y"}));
    EXPECT_FALSE(queue_.Finish("x"));
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"x", "y"}));
    EXPECT_FALSE(queue_.Finish("y"));
    EXPECT_FALSE(queue_.Finish("x"));
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST(UnsettledKeywords, WholeLinesOnly) {
    EXPECT_EQ(UnsettledKeywords("+a\r\n+b\r\n-a\r\n+c"), (TextList{"b"}));  // "+c" was cut short
    EXPECT_EQ(UnsettledKeywords("+a\r\n-a"), (TextList{"a"}));              // so was "-a"
    EXPECT_EQ(UnsettledKeywords("plain\r\n"), (TextList{"plain"}));
    EXPECT_TRUE(UnsettledKeywords("").empty());
}

TEST_F(KeywordQueueTest, ALongJournalIsCompactedAndStillRight) {
    Bytes list;
    for (int i = 0; i < 3000; ++i) {
        list += "keyword-number-" + std::to_string(i) + "\r\n";
    }
    WriteList(list);
    const Text held = queue_.TakeNextKeyword().keyword;  // stays in flight throughout
    for (int i = 1; i < 3000; ++i) {
        ASSERT_FALSE(queue_.Finish(queue_.TakeNextKeyword().keyword));
    }
    EXPECT_LT(Read(paths_.journal).size(), 70u * 1024);
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{held}));
    KeywordQueue afterCrash(paths_);
    EXPECT_EQ(afterCrash.Recover(), 1);
    EXPECT_EQ(Read(paths_.keywordList), held + "\r\n");
}

TEST_F(KeywordQueueTest, AnEditBetweenTakesIsSeen) {
    WriteList("a\r\nb\r\n");
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "a");
    EXPECT_FALSE(queue_.Finish("a"));
    ASSERT_FALSE(ReplaceFileContents(paths_.keywordList, "edited\r\nb\r\n"));
    EXPECT_EQ(queue_.TakeNextKeyword().keyword, "edited");
}

TEST_F(KeywordQueueTest, AListThatCannotBeRewrittenTakesNothing) {
    WriteList("a\r\nbbbbbbbbbbbb\r\n");
    {
        // Files may grow to 5 bytes only: the journal line fits, the shortened list does not.
        FileSizeLimit limit(5);
        const auto taken = queue_.TakeNextKeyword();
        EXPECT_EQ(taken.kind, KeywordQueue::Taken::Kind::kError);
        ASSERT_TRUE(taken.error);
        EXPECT_NE(taken.error->path.find("待采集关键词.txt"), Text::npos) << "the error names the file";
    }
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nbbbbbbbbbbbb\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
}

}  // namespace
}  // namespace qj

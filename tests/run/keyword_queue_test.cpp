#include "run/keyword_queue.h"

#include <gtest/gtest.h>

#include <thread>

#if !defined(_WIN32)
#include "file_size_limit.h"
#endif
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

class KeywordQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi"))); }

    void WriteList(const Bytes& contents) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, contents)); }
    Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }
    // The list as it stands on disk once the queue has written it.
    Bytes Written() {
        EXPECT_TRUE(queue_.Flush());
        return Read(paths_.keywordList);
    }

    testing::TemporaryHome home_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
    // Written only when asked, so that each test sees the same files at the same step.
    KeywordQueue queue_{paths_, std::chrono::hours(1)};
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
    EXPECT_EQ(paths_.keywordList, ProgramFolder() + "/OpenAi/待采集关键词.txt");
    WriteList("甲\r\n\r\n乙\r\n");
    auto taken = queue_.TakeNextKeyword();
    ASSERT_EQ(taken->kind, KeywordQueue::Taken::Kind::kKeyword);
    EXPECT_EQ(taken->keyword, "甲");
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"甲"}));
    EXPECT_EQ(Written(), "\r\n乙\r\n");
    EXPECT_TRUE(queue_.Finish("甲"));
    const KeywordQueue::Taken end = *queue_.TakeNextKeyword();
    EXPECT_EQ(end.kind, KeywordQueue::Taken::Kind::kEnd);
    EXPECT_EQ(end.halt, KeywordQueue::Taken::Halt::kEmptyLine);
    EXPECT_EQ(end.keywordsBehind, 1);
    EXPECT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kEnd) << "no keyword behind the empty line";
    EXPECT_EQ(Written(), "\r\n乙\r\n") << "the empty line stays, to show where the run ended";
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST_F(KeywordQueueTest, LfOnlyAndLastLineWithoutEnd) {
    WriteList("one\ntwo\rthree");
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "one");
    EXPECT_EQ(Written(), "two\rthree");  // nothing of the next keyword is eaten
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "two");
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "three");
    EXPECT_EQ(Written(), "");
    EXPECT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kEnd);
}

TEST_F(KeywordQueueTest, MissingListEndsTheRun) {
    EXPECT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kEnd);
}

TEST_F(KeywordQueueTest, InterruptedKeywordsGoBackToTheFront) {
    WriteList("a\r\nb\r\nc\r\n");
    {
        // A queue that ends without settling or writing the list, as in a crash.
        KeywordQueue crashed(paths_, std::chrono::hours(1));
        EXPECT_EQ(crashed.TakeNextKeyword()->keyword, "a");
        EXPECT_EQ(crashed.TakeNextKeyword()->keyword, "b");
    }
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nc\r\n");
    KeywordQueue afterCrash(paths_);
    EXPECT_EQ(*afterCrash.Recover(), 2);
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(*afterCrash.Recover(), 0);

    EXPECT_EQ(afterCrash.TakeNextKeyword()->keyword, "a");
    EXPECT_TRUE(afterCrash.Return("a"));
    EXPECT_TRUE(afterCrash.Flush());
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
}

// Lists joined from files keep the second file's byte-order mark at the start of a line. Once the
// lines before it are gone, the mark stands first in the file, and a crash then must neither double
// nor lose a keyword.
TEST_F(KeywordQueueTest, AMarkInsideTheListIsAMarkOnceItStandsFirst) {
    WriteList("a\r\n\xEF\xBB\xBF" "b\r\nc\r\n");
    {
        KeywordQueue crashed(paths_, std::chrono::hours(1));
        EXPECT_EQ(crashed.TakeNextKeyword()->keyword, "a");
        EXPECT_TRUE(crashed.Flush());
        EXPECT_EQ(crashed.TakeNextKeyword()->keyword, "b");
    }
    KeywordQueue afterCrash(paths_);
    EXPECT_EQ(*afterCrash.Recover(), 2);
    EXPECT_EQ(Read(paths_.keywordList), "\xEF\xBB\xBF" "a\r\nb\r\nc\r\n");
}

TEST_F(KeywordQueueTest, FinishSettlesOneOccurrence) {
    WriteList("x\r\nx\r\ny\r\n");
    ASSERT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kKeyword);
    ASSERT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kKeyword);
    ASSERT_EQ(queue_.TakeNextKeyword()->kind, KeywordQueue::Taken::Kind::kKeyword);
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"x", "x", "y"}));
    EXPECT_TRUE(queue_.Finish("x"));
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"x", "y"}));
    EXPECT_TRUE(queue_.Finish("y"));
    EXPECT_TRUE(queue_.Finish("x"));
    EXPECT_EQ(Written(), "");
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST(UnsettledKeywords, WholeLinesOnly) {
    EXPECT_EQ(UnsettledKeywords("+a\r\n+b\r\n-a\r\n+c"), (TextList{"b"}));  // "+c" was cut short
    EXPECT_EQ(UnsettledKeywords("+a\r\n-a"), (TextList{"a"}));              // so was "-a"
    EXPECT_EQ(UnsettledKeywords("#\r\n+a\r\n+b\r\n=1-1\r\n<a\r\n+\r\n"), (TextList{"b"}));
    EXPECT_EQ(UnsettledKeywords("plain\r\n"), (TextList{"plain"}));
    EXPECT_TRUE(UnsettledKeywords("").empty());
}

TEST_F(KeywordQueueTest, ALongJournalIsCompactedAndStillRight) {
    Bytes list;
    for (int i = 0; i < 3000; ++i) {
        list += "keyword-number-" + std::to_string(i) + "\r\n";
    }
    WriteList(list);
    const Text held = queue_.TakeNextKeyword()->keyword;  // stays in flight throughout
    for (int i = 1; i < 3000; ++i) {
        ASSERT_TRUE(queue_.Finish(queue_.TakeNextKeyword()->keyword));
    }
    EXPECT_EQ(Written(), "");
    EXPECT_LT(Read(paths_.journal).size(), 100u);
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{held}));
    KeywordQueue afterCrash(paths_);
    EXPECT_EQ(*afterCrash.Recover(), 1);
    EXPECT_EQ(Read(paths_.keywordList), held + "\r\n");
}

// What someone else does to the file during a run: appended lines join the end, a rewritten file
// is the list from then on (less what was taken and is still at its front).
TEST_F(KeywordQueueTest, EditsDuringARunAreKept) {
    WriteList("a\r\nb\r\n");
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "a");
    ASSERT_TRUE(AppendToFile(paths_.keywordList, "c\r\n"));
    EXPECT_EQ(queue_.RemainingCount(), 3);
    EXPECT_EQ(Written(), "b\r\nc\r\n");
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "b");
    ASSERT_TRUE(AppendToFile(paths_.keywordList, "d\r\n"));
    EXPECT_TRUE(queue_.Return("b"));
    EXPECT_EQ(Written(), "b\r\nc\r\nd\r\n");

    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "b");
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "b\r\nedited\r\n"));
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "edited");
    EXPECT_EQ(Written(), "");
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "later\r\n"));
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "later");
}

TEST_F(KeywordQueueTest, TheFileCatchesUpWithoutBeingAsked) {
    WriteList("a\r\nb\r\n");
    KeywordQueue queue(paths_, std::chrono::milliseconds(10));
    EXPECT_EQ(queue.TakeNextKeyword()->keyword, "a");
    for (int i = 0; i < 500 && Read(paths_.keywordList) != "b\r\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(Read(paths_.keywordList), "b\r\n");
    EXPECT_EQ(UnsettledKeywords(Read(paths_.journal)), (TextList{"a"}));
}

// Windows has no per-process limit on file sizes (and Wine no quotas) to make a write fail part way;
// the code that meets the failure is the same on both systems, above the platform layer.
#if !defined(_WIN32)
TEST_F(KeywordQueueTest, FilesThatCannotBeWrittenLoseNothing) {
    WriteList("a\r\nbbbbbbbbbbbb\r\n");
    {
        // Files may grow to 5 bytes only: the journal record does not fit, so nothing is taken.
        FileSizeLimit limit(5);
        const auto taken = queue_.TakeNextKeyword();
        ASSERT_FALSE(taken);
        EXPECT_NE(taken.error().where.find("正在生成关键词.txt"), Text::npos) << "the error names the file";
        EXPECT_EQ(Read(paths_.journal), "");
    }
    EXPECT_EQ(queue_.TakeNextKeyword()->keyword, "a");
    EXPECT_TRUE(queue_.Finish("a"));
    {
        // Now the list cannot be written: it keeps its bytes, and the journal what it lacks.
        FileSizeLimit limit(5);
        const Result<void> e = queue_.Flush();
        ASSERT_FALSE(e);
        EXPECT_NE(e.error().where.find("待采集关键词.txt"), Text::npos);
        const auto taken = queue_.TakeNextKeyword();
        ASSERT_FALSE(taken) << "no keyword while the list cannot be written";
        EXPECT_EQ(taken.error().where, e.error().where);
    }
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nbbbbbbbbbbbb\r\n");
    KeywordQueue next(paths_);
    EXPECT_EQ(*next.Recover(), 0);
    EXPECT_EQ(Read(paths_.keywordList), "bbbbbbbbbbbb\r\n");
}
#endif

}  // namespace
}  // namespace qj

// The pieces a parallel run stands on: retry timing, the shared pause, progress figures, and the
// move of failed keywords back into the list.

#include <gtest/gtest.h>

#include <thread>

#include "run/failure_requeue.h"
#include "run/progress.h"
#include "services/retry_policy.h"
#include "platform/program_folder.h"
#include "temporary_home.h"

namespace qj {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(Retry, DelaysDoubleWithJitterAndAreCapped) {
    EXPECT_EQ(retry::Delay(1, std::nullopt, 0.5), milliseconds(1000));
    EXPECT_EQ(retry::Delay(2, std::nullopt, 0.5), milliseconds(2000));
    EXPECT_EQ(retry::Delay(3, std::nullopt, 0.5), milliseconds(4000));
    EXPECT_EQ(retry::Delay(3, std::nullopt, 0.0), milliseconds(3200));
    EXPECT_EQ(retry::Delay(3, std::nullopt, 1.0), milliseconds(4800));
    EXPECT_EQ(retry::Delay(10, std::nullopt, 1.0), milliseconds(60000));
    EXPECT_EQ(retry::Delay(40, std::nullopt, 0.5), milliseconds(60000));
    // Retry-After sets the least wait, beyond the back-off cap too, up to ten minutes.
    EXPECT_EQ(retry::Delay(1, 7, 0.5), milliseconds(7000));
    EXPECT_EQ(retry::Delay(4, 2, 0.5), milliseconds(8000));
    EXPECT_EQ(retry::Delay(1, 300, 0.5), milliseconds(300000));
    EXPECT_EQ(retry::Delay(1, 3600, 0.5), milliseconds(600000));
}

TEST(SharedPause, HoldsEveryWaiterGrowsWithTheSeriesAndYieldsToStop) {
    SharedPause pause;
    std::atomic<bool> stop{false};
    retry::SetTimeScale(0.1);
    const auto first = pause.RateLimited(std::nullopt);  // 1 s nominal, 0.1 s real
    EXPECT_GE(first, milliseconds(800));
    EXPECT_LE(first, milliseconds(1200));
    const auto begin = std::chrono::steady_clock::now();
    std::thread other([&] { EXPECT_TRUE(pause.WaitUntilClear(stop)); });
    EXPECT_TRUE(pause.WaitUntilClear(stop));
    other.join();
    EXPECT_GE(std::chrono::steady_clock::now() - begin, milliseconds(70));

    EXPECT_GE(pause.RateLimited(std::nullopt), milliseconds(1600));  // the series goes on: 2 s
    pause.Answered();
    EXPECT_LE(pause.RateLimited(std::nullopt), milliseconds(1200));  // a new series
    EXPECT_EQ(pause.RateLimited(30), milliseconds(30000));           // Retry-After wins when longer

    // A run without retries pauses as the answer asks, never more: no growing series.
    SharedPause once(false);
    EXPECT_EQ(once.RateLimited(std::nullopt), milliseconds(1000));
    EXPECT_EQ(once.RateLimited(std::nullopt), milliseconds(1000));
    EXPECT_EQ(once.RateLimited(3), milliseconds(3000));
    EXPECT_EQ(once.RateLimited(86400), milliseconds(600000));
    retry::SetTimeScale(1.0);

    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(50));
        stop = true;
    });
    EXPECT_FALSE(pause.WaitUntilClear(stop));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, seconds(10));
    EXPECT_FALSE(SharedPause::Sleep(seconds(30), stop));
}

TEST(Progress, CountsAndEstimatesFromThePaceSoFar) {
    const auto start = ProgressMeter::Clock::now();
    ProgressMeter meter(start);
    meter.SetRemaining(10);
    meter.Succeeded();
    meter.Failed();
    meter.Skipped();
    const ProgressFigures f = meter.Figures(start + seconds(3));
    EXPECT_EQ(f.succeeded, 1);
    EXPECT_EQ(f.failed, 1);
    EXPECT_EQ(f.skipped, 1);
    EXPECT_EQ(f.remaining, 7);
    EXPECT_EQ(f.elapsed, seconds(3));
    ASSERT_TRUE(f.timeLeft);
    // The pace: articles of the last minute, over three seconds so far.
    EXPECT_EQ(f.articlesPerMinute, 20);
    EXPECT_FALSE(meter.Figures(start + seconds(120)).articlesPerMinute);

    EXPECT_EQ(FormatDuration(seconds(45)), "45秒");
    EXPECT_EQ(FormatDuration(seconds(200)), "3分20秒");
    EXPECT_EQ(FormatDuration(seconds(7500)), "2时5分");
    ProgressFigures shown;
    shown.succeeded = 12;
    shown.failed = 1;
    shown.remaining = 87;
    shown.elapsed = seconds(200);
    EXPECT_EQ(ProgressText(shown), "已完成 12，失败 1，跳过 0，剩余 87，已用 3分20秒");
    shown.timeLeft = seconds(1500);
    EXPECT_EQ(ProgressText(shown), "已完成 12，失败 1，跳过 0，剩余 87，已用 3分20秒，预计还需 25分0秒");
    shown.articlesPerMinute = 30;
    EXPECT_EQ(ProgressText(shown),
              "已完成 12，失败 1，跳过 0，剩余 87，已用 3分20秒，预计还需 25分0秒，速度 30篇/分钟");
}

class RequeueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi"))); }
    void Write(const Text& path, const Bytes& b) { ASSERT_TRUE(ReplaceFileContents(path, b)); }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or("<missing>"); }

    testing::TemporaryHome home_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
    Text intent_ = ProgramPath("OpenAi/.requeue");
};

TEST_F(RequeueTest, MovesFailuresBehindTheList) {
    Write(paths_.keywordList, "a\r\nb\r\n\r\n");
    Write(paths_.failureList, "x\r\ny\ny\r\n");
    const Result<int> moved = RequeueFailedKeywords(paths_, intent_);
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, 3);
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nb\r\nx\r\ny\r\ny\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_EQ(Read(intent_), "<missing>");
    EXPECT_EQ(RequeueFailedKeywords(paths_, intent_), 0);
}

TEST_F(RequeueTest, AMoveCutShortIsFinishedOnceAtWhicheverStepItStopped) {
    // The record was written, the list not yet changed.
    Write(paths_.keywordList, "a\r\n");
    Write(paths_.failureList, "x\r\n");
    Write(intent_, "3\r\nx\r\n");
    EXPECT_TRUE(FinishInterruptedRequeue(paths_, intent_));
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nx\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_EQ(Read(intent_), "<missing>");

    // The list was changed, the failure list not yet emptied.
    Write(paths_.keywordList, "a\r\nx\r\n");
    Write(paths_.failureList, "x\r\n");
    Write(intent_, "3\r\nx\r\n");
    EXPECT_TRUE(FinishInterruptedRequeue(paths_, intent_));
    EXPECT_EQ(Read(paths_.keywordList), "a\r\nx\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
}

}  // namespace
}  // namespace qj

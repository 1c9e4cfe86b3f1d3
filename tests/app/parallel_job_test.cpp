// Runs with several workers, retries and progress, against a local service that adds latency and
// fails chosen keywords on purpose.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "job_fixture.h"
#include "run/job.h"
#include "run/output_files.h"
#include "services/retry_policy.h"
#include "job_test_support.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {
namespace {

using testing::InterfaceOneReply;

// Per keyword: how many first attempts fail, with which status and Retry-After.
struct Misbehaviour {
    int failures = 0;
    int status = 500;
    std::string retryAfter{};
    std::string body = R"({"error":{"message":"busy"}})";
};

class ParallelJobTest : public testing::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        deployment_ = service_.Deploy();
        window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-test");
        retry::SetTimeScale(0.01);
        service_.SetAnswer([this](const httplib::Request& request, httplib::Response& response) {
            const Text keyword = Utf8ToAnsi(nlohmann::json::parse(request.body)["prompt"].get<std::string>());
            const int now = ++current_;
            for (int seen = peak_.load(); now > seen && !peak_.compare_exchange_weak(seen, now);) {
            }
            int attempt = 0;
            Misbehaviour plan;
            {
                std::lock_guard lock(mutex_);
                attempt = ++attempts_[keyword];
                if (auto it = plans_.find(keyword); it != plans_.end()) {
                    plan = it->second;
                }
            }
            service_.Stall(keyword == slowKeyword_ ? 30000 : latencyMs_);
            --current_;
            if (attempt <= plan.failures) {
                response.status = plan.status;
                if (!plan.retryAfter.empty()) {
                    response.set_header("Retry-After", plan.retryAfter);
                }
                response.set_content(plan.body, "application/json");
                return;
            }
            response.set_content(InterfaceOneReply(AnsiToUtf8(keyword) + " text"), "application/json");
        });
    }

    JobSummary Run(int workers, int retries = 0) {
        window_.SetText(control::kEditConcurrency, kPropContent, std::to_string(workers));
        window_.SetText(control::kEditRetryCount, kPropContent, std::to_string(retries));
        return JobFixture::Run();
    }

    void WriteList(int count) {
        Bytes list;
        for (int i = 0; i < count; ++i) {
            list += "k" + std::to_string(i) + "\r\n";
        }
        ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, list));
    }
    void Plan(const Text& keyword, Misbehaviour plan) {
        std::lock_guard lock(mutex_);
        plans_[keyword] = plan;
    }
    int Attempts(const Text& keyword) {
        std::lock_guard lock(mutex_);
        return attempts_[keyword];
    }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }

    testing::LocalCompletionService service_;
    std::atomic<int> current_{0};
    std::atomic<int> peak_{0};
    int latencyMs_ = 0;
    Text slowKeyword_;  // answered after 30 s (or when the service stops)
    std::mutex mutex_;
    std::map<Text, int> attempts_;
    std::map<Text, Misbehaviour> plans_;
};

TEST_F(ParallelJobTest, WorkersReallyOverlapAndEveryKeywordIsDone) {
    WriteList(12);
    latencyMs_ = 200;
    const JobSummary summary = Run(4);
    EXPECT_EQ(summary.succeeded, 12);
    EXPECT_EQ(peak_.load(), 4);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(Read(paths_.outputFolder + "k" + std::to_string(i) + ".txt"), "k" + std::to_string(i) + " text");
    }
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_EQ(Read(paths_.journal), "");
    // Every line of the log is whole.
    for (const Text& line : SplitText(Log(), "\r\n")) {
        EXPECT_TRUE(line.starts_with("【")) << line;
    }
    EXPECT_EQ(summary.figures.succeeded, 12);
    EXPECT_EQ(summary.figures.remaining, 0);
    EXPECT_EQ(window_.GetNumber(control::kProgressRun, kPropProgressValue), 12);
    EXPECT_EQ(window_.GetNumber(control::kProgressRun, kPropProgressMaximum), 12);
}

TEST_F(ParallelJobTest, EmptyOrInvalidSettingsMeanOneWorkerAndNoRetry) {
    WriteList(4);
    latencyMs_ = 50;
    Plan("k1", {.failures = 1, .status = 500});
    window_.SetText(control::kEditConcurrency, kPropContent, "many");
    window_.SetText(control::kEditRetryCount, kPropContent, "");
    const JobSummary summary = JobFixture::Run();
    EXPECT_EQ(peak_.load(), 1);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(Attempts("k1"), 1);
}

TEST_F(ParallelJobTest, TransientFailuresAreRetriedWithGrowingPauses) {
    WriteList(2);
    Plan("k0", {.failures = 2, .status = 503});
    const JobSummary summary = Run(2, 3);
    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(Attempts("k0"), 3);
    const Text log = Log();
    EXPECT_NE(log.find("关键词【k0】请求失败（HTTP 503），"), Text::npos) << log;
    EXPECT_NE(log.find("后第1次重试"), Text::npos);
    EXPECT_NE(log.find("后第2次重试"), Text::npos);
    EXPECT_EQ(log.find("后第3次重试"), Text::npos);
    EXPECT_EQ(Read(paths_.failureList), "");
}

TEST_F(ParallelJobTest, RetryAfterIsHonouredAndOnlyTheLastFailureIsListed) {
    WriteList(1);
    Plan("k0", {.failures = 5, .status = 429, .retryAfter = "7"});
    const JobSummary summary = Run(1, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(Attempts("k0"), 3);
    const Text log = Log();
    EXPECT_NE(log.find("关键词【k0】请求失败（HTTP 429），7秒后第1次重试"), Text::npos) << log;
    EXPECT_NE(log.find("7秒后第2次重试"), Text::npos) << log;
    EXPECT_EQ(Read(paths_.failureList), "k0\r\n");
}

TEST_F(ParallelJobTest, RateLimitsPauseAsLongAsAskedAndUsedUpQuotasFailAtOnce) {
    // Without retries, every keyword meeting a 429 pauses the others for the first step only, so a
    // list that keeps meeting them fails at a steady pace.
    WriteList(4);
    for (const char* k : {"k0", "k1", "k2", "k3"}) {
        Plan(k, {.failures = 1, .status = 429});
    }
    EXPECT_EQ(Run(2, 0).failed, 4);
    Text log = Log();
    EXPECT_EQ(SplitText(log, "所有请求暂停1秒").size(), 5u) << log;
    EXPECT_EQ(log.find("所有请求暂停2秒"), Text::npos) << log;

    // A used-up quota is final: no retry, no pause, whatever the Retry-After says.
    plans_.clear();
    attempts_.clear();
    WriteList(2);
    Plan("k0", {.failures = 5,
                .status = 429,
                .retryAfter = "30",
                .body = R"({"error":{"message":"You exceeded your current quota","code":"insufficient_quota"}})"});
    ClearLog();
    EXPECT_EQ(Run(1, 3).failed, 1);
    EXPECT_EQ(Attempts("k0"), 1);
    EXPECT_EQ(Attempts("k1"), 1);
    log = Log();
    EXPECT_EQ(log.find("重试"), Text::npos) << log;
    EXPECT_EQ(log.find("暂停"), Text::npos) << log;

    // A long Retry-After is honoured (up to ten minutes) and logged.
    retry::SetTimeScale(0.0005);
    plans_.clear();
    attempts_.clear();
    WriteList(2);
    Plan("k0", {.failures = 1, .status = 429, .retryAfter = "300"});
    Plan("k1", {.failures = 1, .status = 503, .retryAfter = "86400"});
    ClearLog();
    EXPECT_EQ(Run(1, 1).succeeded, 2);
    log = Log();
    EXPECT_NE(log.find("关键词【k0】请求失败（HTTP 429），300秒后第1次重试"), Text::npos) << log;
    EXPECT_NE(log.find("关键词【k1】请求失败（HTTP 503），600秒后第1次重试"), Text::npos) << log;
}

TEST_F(ParallelJobTest, PermanentFailuresAreNotRetried) {
    WriteList(1);
    Plan("k0", {.failures = 1, .status = 401});
    const JobSummary summary = Run(1, 5);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(Attempts("k0"), 1);
    EXPECT_EQ(Log().find("重试"), Text::npos);
}

TEST_F(ParallelJobTest, StopReturnsEveryKeywordInFlight) {
    WriteList(10);
    latencyMs_ = 30000;
    JobSummary summary;
    std::thread run([&] { summary = Run(4); });
    while (peak_.load() < 4) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    RequestRunStop();
    run.join();
    EXPECT_EQ(summary.returned, 4);
    EXPECT_EQ(summary.succeeded + summary.failed, 0);
    const TextList lines = ListLines(Read(paths_.keywordList));
    EXPECT_EQ(std::set<Text>(lines.begin(), lines.end()).size(), 10u);
    EXPECT_EQ(lines.size(), 10u);
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST_F(ParallelJobTest, ExistingOutputIsSkippedWhenAsked) {
    WriteList(2);
    ASSERT_TRUE(OutputFolder(paths_.outputFolder).Save("k0", "earlier"));
    window_.SetNumber(control::kCheckSkipExisting, kPropChecked, 1);
    const JobSummary summary = Run(1);
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(summary.succeeded, 1);
    EXPECT_EQ(Attempts("k0"), 0);
    EXPECT_EQ(Read(paths_.outputFolder + "k0.txt"), "earlier");
    EXPECT_NE(Log().find("关键词【k0】已有生成内容，跳过"), Text::npos);
    EXPECT_EQ(summary.figures.skipped, 1);
}

// Keywords that differ only in case (Latin, Greek, Cyrillic, full-width letters, Roman numerals)
// are one name to NTFS and FAT. The first of each group to be written keeps its name and the others
// get tagged ones, with several workers at once and against an article the folder already holds;
// after a restart every article is found again.
TEST_F(ParallelJobTest, KeywordsThatDifferOnlyInCaseGetFilesOfTheirOwn) {
    ASSERT_TRUE(OutputFolder(paths_.outputFolder).Save("Old", "earlier"));
    const std::vector<std::vector<Text>> groups = {{"Abc", "abc", "ABC"}, {"Σσ", "σΣ", "σσ"}, {"Яблоко", "яблоко"},
                                                   {"Ａｂ", "ａｂ"},      {"Ⅻⅰ", "ⅫⅠ"},       {"Old", "OLD"}};
    Bytes list;
    std::size_t count = 0;
    for (const auto& group : groups) {
        for (const Text& keyword : group) {
            list += keyword + "\r\n";
            ++count;
        }
    }
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, list));
    window_.SetNumber(control::kCheckSkipExisting, kPropChecked, 1);
    const JobSummary first = Run(4);
    EXPECT_EQ(first.succeeded, static_cast<int>(count) - 1) << Log();
    EXPECT_EQ(first.skipped, 1);

    const Result<std::vector<Text>> listed = ListFolder(paths_.outputFolder);
    ASSERT_TRUE(listed);
    const std::vector<Text>& names = *listed;
    std::map<Bytes, Text> fileOf;  // article -> name
    for (const Text& name : names) {
        fileOf[Read(paths_.outputFolder + name)] = name;
    }
    EXPECT_EQ(names.size(), count);
    EXPECT_EQ(fileOf["earlier"], "Old.txt");
    for (const auto& group : groups) {
        int plain = 0;
        for (const Text& keyword : group) {
            const Text name = fileOf[keyword == "Old" ? Bytes("earlier") : keyword + " text"];
            if (name == keyword + ".txt") {
                ++plain;
            } else {
                EXPECT_TRUE(name.starts_with(keyword + "~") && name.size() == keyword.size() + 13) << name;
            }
        }
        EXPECT_EQ(plain, 1) << group.front();
    }

    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, list));
    const JobSummary second = Run(4);
    EXPECT_EQ(second.skipped, static_cast<int>(count)) << Log();
    EXPECT_EQ(second.succeeded, 0);
}

TEST_F(ParallelJobTest, TheTitleShowsTheFiguresDuringTheRunOnly) {
    WriteList(3);
    latencyMs_ = 30000;
    window_.SetText(kWindowItself, kPropCaption, "青笺");
    std::thread run([&] { Run(1); });
    while (peak_.load() < 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(
        window_.GetText(kWindowItself, kPropCaption).starts_with("青笺 - 已完成 0，失败 0，跳过 0，剩余 3，已用 "));
    RequestRunStop();
    run.join();
    EXPECT_EQ(window_.GetText(kWindowItself, kPropCaption), "青笺");
}

// The title is shown at most every so often, yet during a long keyword it catches up with the
// keyword settled just before, however short ago it was shown last.
TEST_F(ParallelJobTest, TheTitleCatchesUpDuringALongKeyword) {
    WriteList(3);
    slowKeyword_ = "k1";
    window_.SetText(kWindowItself, kPropCaption, "青笺");
    std::thread run([&] { Run(1); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const Text expected = "青笺 - 已完成 1，失败 0，跳过 0，剩余 2，已用 ";
    // The title may show k0's end before k1's request reaches the service: wait for both.
    while ((!window_.GetText(kWindowItself, kPropCaption).starts_with(expected) || Attempts("k1") < 1) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(window_.GetText(kWindowItself, kPropCaption).starts_with(expected))
        << window_.GetText(kWindowItself, kPropCaption);
    EXPECT_EQ(Attempts("k1"), 1);  // still in its request
    RequestRunStop();
    run.join();
    EXPECT_EQ(window_.GetText(kWindowItself, kPropCaption), "青笺");
}

}  // namespace
}  // namespace qj

// Submitting and collecting batches against a local service that plays the files and batches
// interface, with scripted status sequences, and killed at every step.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "batch/batch_submissions.h"
#include "local_batch_service.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

using testing::LocalBatchService;
using namespace std::chrono_literals;

// The user message of a keyword (UTF-8), as the service sees it.
std::string MessageOf(const Text& keyword) {
    return AnsiToUtf8("写" + keyword);
}

std::string BodyOf(const PartKeyword& keyword) {
    return nlohmann::json{{"model", "m"},
                          {"messages", {{{"role", "user"}, {"content", MessageOf(keyword.keyword)}}}},
                          {"stream", true},
                          {"stream_options", {{"include_usage", true}}}}
        .dump();
}

class BatchSubmissionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        PollSchedule::SetIntervals(1ms, 4ms);
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    }

    struct Run {
        BatchProgress submitted;
        BatchProgress collected;
        std::map<Text, BatchLineResult> results;  // by keyword
        std::vector<std::pair<Text, PartKeyword>> open;
        Text log;
    };

    // One run: the record read, `keywords` (when there are any) added as one part, every part
    // submitted and every batch collected; results that are no reply are left open. `afterPoll`
    // runs after every poll.
    Run RunOnce(const TextList& keywords, const std::function<void(BatchSubmissions&)>& afterPoll = {}) {
        Run run;
        BatchRecord record(ProgramPath(kBatchRecordTail));
        BatchService service({BatchEndpointsOf(service_.Base() + "/chat/completions"), "sk-batch", "", "", "", ""},
                             &stop_);
        BatchSubmissions* self = nullptr;
        BatchSubmissions submissions(record, service,
                                     {[&](const Text& line) { run.log += line + "\n"; },
                                      [&](const BatchFigures&) {
                                          if (afterPoll) {
                                              afterPoll(*self);
                                          }
                                      }},
                                     stop_);
        self = &submissions;
        EXPECT_TRUE(submissions.Load({}));
        if (!keywords.empty()) {
            std::vector<PartKeyword> part;
            for (const Text& keyword : keywords) {
                part.push_back({"", keyword, {}, false});
            }
            Text id;
            EXPECT_TRUE(submissions.AddPart(part, NewRunId(std::time(nullptr)), id));
            EXPECT_TRUE(submissions.Own(id));
        }
        run.submitted = submissions.SubmitAll(BodyOf);
        if (run.submitted.kind == BatchProgress::Kind::kDone) {
            run.collected = submissions.CollectAll(
                [&](const BatchPart&, const PartKeyword& keyword, const BatchLineResult& result) {
                    run.results[keyword.keyword] = result;
                    return result.ok ? Settlement::kDone : Settlement::kLeftOpen;
                });
        }
        run.open = submissions.OpenKeywords();
        return run;
    }

    testing::TemporaryHome home_;
    LocalBatchService service_;
    std::atomic<bool> stop_{false};
};

// The service's statuses, in order, as the log reports them; every scripted end.
TEST_F(BatchSubmissionsTest, ScriptedSequencesEndWithEveryKeywordAnsweredOrOpen) {
    struct Scenario {
        const char* name;
        LocalBatchService::Plan plan;
        TextList answered;
        const char* openReason;  // of 丙 and 丁
    };
    const Scenario scenarios[] = {
        {"completed, one line refused",
         {.refused = {MessageOf("丙"), MessageOf("丁")}},
         {"甲", "乙"},
         "refused by the test（HTTP 400）"},
        {"expired with part of the output",
         {.statuses = {"validating", "in_progress", "expired"}, .answered = 2},
         {"甲", "乙"},
         "batch_expired："},
        {"failed", {.statuses = {"validating", "failed"}}, {}, "批量任务失败：第1行：the test failed it"},
        {"lines in neither file", {.answered = 2, .noErrorFile = true}, {"甲", "乙"}, "批量任务没有给出这一行的结果"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        service_.SetPlan(scenario.plan);
        const Run run = RunOnce({"甲", "乙", "丙", "丁"});
        EXPECT_EQ(run.submitted.kind, BatchProgress::Kind::kDone) << run.submitted.detail;
        EXPECT_EQ(run.collected.kind, BatchProgress::Kind::kDone) << run.collected.detail;
        ASSERT_EQ(run.results.size(), 4u) << run.log;
        for (const Text& keyword : scenario.answered) {
            ASSERT_TRUE(run.results.at(keyword).ok) << keyword;
            const nlohmann::json body = nlohmann::json::parse(run.results.at(keyword).body);
            EXPECT_EQ(body["choices"][0]["message"]["content"], LocalBatchService::ArticleFor(MessageOf(keyword)));
        }
        EXPECT_EQ(run.open.size(), 4 - scenario.answered.size());
        EXPECT_EQ(run.results.at("丁").error.find(scenario.openReason), 0u) << run.results.at("丁").error;
        // Every status the batch went through is in the log, once.
        Text seen;
        for (const std::string& status : scenario.plan.statuses) {
            const Text logged = "：" + BatchStatusText(status) + "，已完成 ";
            EXPECT_NE(run.log.find(logged), Text::npos) << status << "\n" << run.log;
            EXPECT_EQ(run.log.find(logged), run.log.rfind(logged)) << status;
        }

        // Settling the open keywords empties the record.
        BatchRecord record(ProgramPath(kBatchRecordTail));
        BatchService service({}, nullptr);
        BatchSubmissions again(record, service, {}, stop_);
        ASSERT_TRUE(again.Load({}));
        ASSERT_EQ(again.OpenKeywords().size(), run.open.size());
        for (const auto& [part, keyword] : again.OpenKeywords()) {
            ASSERT_TRUE(again.Settle(part, keyword.customId));
        }
        EXPECT_EQ(again.PartCount(), 0);
    }
    // Each keyword was submitted once per run, in the same request a direct run makes.
    for (const auto& batch : service_.Submitted()) {
        EXPECT_EQ(batch.size(), 4u);
    }
}

// 结束 while a batch runs, then the batch cancelled at the service: a later run collects what it
// finished.
TEST_F(BatchSubmissionsTest, AStoppedRunLeavesTheBatchAndALaterRunCollectsIt) {
    service_.SetPlan(
        {.statuses = {"validating", "in_progress", "in_progress", "in_progress", "in_progress", "completed"}});
    Run first = RunOnce({"甲", "乙", "丙", "丁"}, [&](BatchSubmissions& submissions) {
        stop_ = true;
        submissions.CancelSubmitted();
    });
    EXPECT_EQ(first.collected.kind, BatchProgress::Kind::kStopped);
    EXPECT_TRUE(first.results.empty());
    EXPECT_NE(first.log.find("已请服务商取消批量任务 batch_"), Text::npos) << first.log;

    stop_ = false;
    const Run later = RunOnce({});
    EXPECT_EQ(later.collected.kind, BatchProgress::Kind::kDone);
    EXPECT_NE(later.log.find("：已取消，已完成 2/4"), Text::npos) << later.log;
    EXPECT_EQ(later.open.size(), 2u);
    EXPECT_EQ(later.results.at("丁").error.find("batch_cancelled："), 0u);
    EXPECT_EQ(service_.Submitted().size(), 1u);
}

// A service without the batch interface gets the keywords back as open (to be sent directly); a
// refused key keeps the part for a run with a better one.
TEST_F(BatchSubmissionsTest, AServiceThatTakesNoBatchLeavesEveryKeywordOpen) {
    service_.Refuse("/v1/files", 401);
    const Run refused = RunOnce({"甲", "乙"});
    EXPECT_EQ(refused.submitted.kind, BatchProgress::Kind::kFailed);
    EXPECT_NE(refused.submitted.detail.find("refused by the test（HTTP 401）"), Text::npos) << refused.submitted.detail;
    EXPECT_TRUE(refused.open.empty());

    service_.Refuse("/v1/files", 404);
    const Run missing = RunOnce({});
    EXPECT_EQ(missing.collected.kind, BatchProgress::Kind::kDone);
    ASSERT_EQ(missing.open.size(), 2u);
    EXPECT_EQ(missing.results.at("乙").error.find("批量任务无法提交：refused by the test（HTTP 404）"), 0u)
        << missing.results.at("乙").error;
    EXPECT_TRUE(service_.Submitted().empty());
}

#if !defined(_WIN32)
int g_stepsLeft = -1;

void DieAtStep(BatchStep) {
    if (g_stepsLeft > 0 && --g_stepsLeft == 0) {
        ::_exit(0);
    }
}

// A run killed before each step in turn, then a run that recovers: every keyword is submitted in
// exactly one batch and settled, none lost, none twice but where the kill fell between writing a
// result and marking it.
TEST_F(BatchSubmissionsTest, AKillAtAnyStepNeitherLosesNorSubmitsTwice) {
    const TextList keywords = {"甲", "乙", "丙", "丁", "甲"};
    const Text settledFile = ProgramPath("settled.txt");
    int foundAgain = 0;  // recoveries that found a batch whose id the kill kept from the record
    for (int step = 1;; ++step) {
        SCOPED_TRACE("killed before step " + std::to_string(step));
        LocalBatchService service;
        service.SetPlan({.refused = {MessageOf("丙")}});
        std::filesystem::remove(NativePath(ProgramPath(kBatchRecordTail)));
        std::filesystem::remove(NativePath(settledFile));

        // What a run does with its keywords: answered ones are written down, open ones too (as a
        // direct request would settle them).
        Text log;
        const auto runAll = [&](const TextList& taken) {
            BatchRecord record(ProgramPath(kBatchRecordTail));
            BatchService client({BatchEndpointsOf(service.Base() + "/chat/completions"), "", "", "", "", ""}, nullptr);
            BatchSubmissions submissions(record, client, {[&](const Text& line) { log += line; }, {}}, stop_);
            EXPECT_TRUE(submissions.Load({}));
            if (!taken.empty()) {
                std::vector<PartKeyword> part;
                for (const Text& keyword : taken) {
                    part.push_back({"", keyword, {}, false});
                }
                Text id;
                EXPECT_TRUE(submissions.AddPart(part, NewRunId(std::time(nullptr)), id));
                EXPECT_TRUE(submissions.Own(id));
            }
            BatchSubmissions::SetBeforeStep(DieAtStep);
            EXPECT_EQ(submissions.SubmitAll(BodyOf).kind, BatchProgress::Kind::kDone);
            EXPECT_EQ(submissions
                          .CollectAll([&](const BatchPart&, const PartKeyword& keyword, const BatchLineResult& result) {
                              if (!result.ok) {
                                  return Settlement::kLeftOpen;
                              }
                              EXPECT_TRUE(AppendToFile(settledFile, keyword.customId + "\r\n"));
                              return Settlement::kDone;
                          })
                          .kind,
                      BatchProgress::Kind::kDone);
            for (const auto& [part, keyword] : submissions.OpenKeywords()) {
                EXPECT_TRUE(AppendToFile(settledFile, keyword.customId + "\r\n"));
                EXPECT_TRUE(submissions.Settle(part, keyword.customId));
            }
            BatchSubmissions::SetBeforeStep(nullptr);
        };

        const pid_t child = ::fork();
        if (child == 0) {
            g_stepsLeft = step;
            runAll(keywords);
            ::_exit(::testing::Test::HasFailure() ? 1 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 1);
        const bool finished = WEXITSTATUS(status) == 2;
        g_stepsLeft = -1;
        runAll({});
        foundAgain += log.find("在服务商处找到了上次已提交的批量任务") != Text::npos ? 1 : 0;

        std::map<std::string, int> submitted;
        for (const auto& batch : service.Submitted()) {
            for (const std::string& message : batch) {
                ++submitted[message];
            }
        }
        EXPECT_EQ(submitted[MessageOf("甲")], 2);  // the list holds it twice
        for (const char* keyword : {"乙", "丙", "丁"}) {
            EXPECT_EQ(submitted[MessageOf(keyword)], 1) << keyword;
        }
        std::map<Text, int> settled;
        const Bytes lines = ReadFileBytes(settledFile).value_or("");
        for (std::size_t from = 0; from < lines.size(); from = lines.find("\r\n", from) + 2) {
            ++settled[lines.substr(from, lines.find("\r\n", from) - from)];
        }
        EXPECT_EQ(settled.size(), 5u) << lines;
        int twice = 0;
        for (const auto& [id, count] : settled) {
            EXPECT_LE(count, 2) << id;
            twice += count - 1;
        }
        EXPECT_LE(twice, 1);
        BatchRecord record(ProgramPath(kBatchRecordTail));
        ASSERT_TRUE(record.Load());
        EXPECT_TRUE(record.parts().empty());
        if (finished) {
            EXPECT_GT(step, 15);
            EXPECT_EQ(foundAgain, 1);
            break;
        }
    }
}
#endif

}  // namespace
}  // namespace qj

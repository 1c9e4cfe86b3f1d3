// The batch mode of interface three as a user runs it (`qingjian --batch` with 配置.ini choosing
// the provider's batch interface) against a local service that plays files and batches.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <set>

#include "app/batch_mode.h"
#include "app/control_names.h"
#include "batch/batch_record.h"
#include "batch/batch_submissions.h"
#include "local_batch_service.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "run/keyword_queue.h"
#include "run/output_files.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "window/window_model.h"

namespace qj {
namespace {

using namespace std::chrono_literals;
using testing::LocalBatchService;

Bytes Read(const Text& path) {
    return ReadFileBytes(path).value_or("");
}

// The article as a run writes it (CR LF) for a keyword's message.
Bytes ArticleOf(const Text& keyword) {
    return ReplaceAll(Utf8ToAnsi(LocalBatchService::ArticleFor(AnsiToUtf8("写" + keyword))), "\n", "\r\n");
}

// The parts the record of submissions still holds.
std::size_t RecordedParts() {
    BatchRecord record(ProgramPath(kBatchRecordTail));
    EXPECT_TRUE(record.Load());
    return record.parts().size();
}

// Every run log the program wrote, one after the other.
Text RunLogs() {
    Text all;
    const Text folder = ProgramPath(kRunLogFolderTail);
    for (const Text& name : ListFolder(folder).value_or(std::vector<Text>{})) {
        all += Read(folder + name);
    }
    return all;
}

int RunProgram() {
    char program[] = "qingjian";
    char batch[] = "--batch";
    char* argv[] = {program, batch, nullptr};
    return RunBatchMode(2, argv);
}

class BatchInterfaceRun : public ::testing::Test {
protected:
    void SetUp() override {
        PollSchedule::SetIntervals(1ms, 4ms);
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        ASSERT_TRUE(ReplaceFileContents(ProgramPath("价格.txt"), "batch-model  2  8  元  0.5\r\n"));
        ASSERT_TRUE(ReplaceFileContents(
            ProgramPath(kSettingsFileTail),
            "[编辑框]\r\n编辑框_OpenAi_API秘钥=sk-batch\r\n编辑框_接口三_API地址=" + service_.Base() +
                "\r\n编辑框_接口三_模型=batch-model\r\n编辑框_接口三_提示词=写{关键词}\r\n[选择框]\r\n"
                "选择框_接口三_批量=真\r\n选择框_接口三_批量失败直接请求=真\r\n[单选框]\r\n单选框_接口二=假\r\n"
                "单选框_接口一=假\r\n单选框_接口三=真\r\n"));
    }

    testing::TemporaryHome home_;
    LocalBatchService service_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

// validating -> in_progress -> finalizing -> completed with two lines expired, results out of
// order and an error file: every keyword is submitted once, answered by the batch or by one direct
// request, written where a direct run writes it, and the run's tokens are the service's own sums.
TEST_F(BatchInterfaceRun, EveryKeywordIsSubmittedOnceAndAnsweredOnce) {
    const TextList keywords = {"甲", "乙", "丙", "丁", "戊"};
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "甲\r\n乙\r\n丙\r\n丁\r\n戊\r\n"));
    service_.SetPlan({.answered = 3});

    EXPECT_EQ(RunProgram(), 0) << RunLogs();

    const auto submitted = service_.Submitted();
    ASSERT_EQ(submitted.size(), 1u);
    std::multiset<std::string> asked(submitted[0].begin(), submitted[0].end());
    const std::vector<std::string> direct = service_.DirectMessages();
    EXPECT_EQ(asked.size(), keywords.size());
    EXPECT_EQ(direct.size(), 2u);
    for (const Text& keyword : keywords) {
        const std::string message = AnsiToUtf8("写" + keyword);
        EXPECT_EQ(asked.count(message), 1u) << keyword;
        EXPECT_EQ(Read(paths_.outputFolder + keyword + ".txt"), ArticleOf(keyword)) << keyword;
    }
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_EQ(RecordedParts(), 0u);

    const Text log = RunLogs();
    const LocalBatchService::Usage usage = service_.UsageSum();
    EXPECT_NE(log.find("本次任务用量：输入Token " + std::to_string(usage.prompt) + "，输出Token " +
                       std::to_string(usage.completion) + "，费用 "),
              Text::npos)
        << log;
    EXPECT_NE(log.find("（批量接口价格）"), Text::npos) << log;
    EXPECT_NE(log.find("已完成"), Text::npos) << log;

    // The run report: one row per keyword, written, with what its requests cost; together they are
    // the run's total.
    const std::vector<std::filesystem::path> reports = [] {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(NativePath(ProgramPath("OpenAi/运行报告")))) {
            found.push_back(entry.path());
        }
        return found;
    }();
    ASSERT_EQ(reports.size(), 1u);
    const TextList lines = SplitText(Utf8ToAnsi(testing::ReadBytes(reports[0]).substr(3)), "\r\n");
    ASSERT_GE(lines.size(), keywords.size() + 1);
    EXPECT_TRUE(lines[0].ends_with(",费用")) << lines[0];
    std::set<Text> reported;
    double total = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            continue;
        }
        const TextList cells = SplitText(lines[i], ",");
        ASSERT_EQ(cells.size(), 11u) << lines[i];
        EXPECT_EQ(cells[2], "已写入") << lines[i];
        ASSERT_TRUE(cells[10].ends_with(" 元")) << lines[i];
        const double cost = std::stod(cells[10]);
        EXPECT_GT(cost, 0) << lines[i];
        total += cost;
        EXPECT_TRUE(reported.insert(cells[1]).second) << lines[i];
    }
    EXPECT_EQ(reported, std::set<Text>(keywords.begin(), keywords.end()));
    const std::size_t at = log.find("费用 ", log.find("本次任务用量："));
    ASSERT_NE(at, Text::npos) << log;
    EXPECT_NEAR(total, std::stod(log.substr(at + std::string("费用 ").size())), 0.0002 * keywords.size()) << log;
}

// A batch that fails at the service: its lines are asked directly; the next run submits only its
// own keywords and leaves no record behind.
TEST_F(BatchInterfaceRun, AFailedBatchIsAskedDirectlyAndNothingIsSubmittedTwice) {
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "甲\r\n乙\r\n"));
    // The first run's batch fails at the service; the failed lines are asked directly.
    service_.SetPlan({.statuses = {"validating", "failed"}, .answered = 0, .unansweredCode = "batch_failed"});
    EXPECT_EQ(RunProgram(), 0) << RunLogs();
    EXPECT_EQ(service_.DirectMessages().size(), 2u);

    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "丙\r\n"));
    service_.SetPlan({});
    EXPECT_EQ(RunProgram(), 0) << RunLogs();
    EXPECT_EQ(Read(paths_.outputFolder + "丙.txt"), ArticleOf("丙"));
    std::size_t lines = 0;
    for (const auto& batch : service_.Submitted()) {
        lines += batch.size();
    }
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(RecordedParts(), 0u);
}

// With a cap, a part holds only the keywords the money left is estimated to pay for (about 1,650
// tokens an article at the batch price: 0.00615 元 here), and each part is collected before the
// next goes out.
TEST_F(BatchInterfaceRun, ACapHoldsEachPartToWhatTheMoneyLeftPaysFor) {
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "甲\r\n乙\r\n丙\r\n丁\r\n戊\r\n"));
    ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), kind::kEdit, control::kEditCostCap, "0.013"));
    EXPECT_EQ(RunProgram(), 0) << RunLogs();
    std::vector<std::size_t> sizes;
    for (const auto& batch : service_.Submitted()) {
        sizes.push_back(batch.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2, 1})) << RunLogs();
    EXPECT_EQ(Read(paths_.keywordList), "");
}

#if !defined(_WIN32)
std::atomic<int> g_pollsBeforeInterrupt{-1};

// Interrupts the program (as Ctrl+C does) at the given poll.
void InterruptAtPoll(BatchStep step) {
    if (step == BatchStep::kPoll && g_pollsBeforeInterrupt.fetch_sub(1) == 0) {
        std::raise(SIGINT);
    }
}

// Ctrl+C while the batch runs leaves it at the service with its keywords in the record, none in
// the list; the next run, even a direct one, collects it before anything else and submits nothing.
TEST_F(BatchInterfaceRun, AnInterruptLeavesTheBatchForTheNextRunToCollect) {
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "甲\r\n乙\r\n"));
    service_.SetPlan({.statuses = {"validating", "in_progress", "in_progress", "in_progress", "completed"}});
    g_pollsBeforeInterrupt = 1;
    BatchSubmissions::SetBeforeStep(InterruptAtPoll);
    EXPECT_EQ(RunProgram(), 130) << RunLogs();
    BatchSubmissions::SetBeforeStep(nullptr);
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_EQ(RecordedParts(), 1u);
    EXPECT_EQ(Read(paths_.outputFolder + "甲.txt"), "");

    // The next run asks directly; the recorded batch comes first and no keyword is asked again.
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "丙\r\n"));
    ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), kind::kCheck, control::kCheckInterfaceThreeBatch, "假"));
    EXPECT_EQ(RunProgram(), 0) << RunLogs();
    EXPECT_EQ(service_.Submitted().size(), 1u);
    EXPECT_EQ(service_.DirectMessages(), std::vector<std::string>{AnsiToUtf8("写丙")});
    for (const Text& keyword : TextList{"甲", "乙", "丙"}) {
        EXPECT_EQ(Read(paths_.outputFolder + keyword + ".txt"), ArticleOf(keyword)) << keyword;
    }
    EXPECT_EQ(RecordedParts(), 0u);
}
#endif

}  // namespace
}  // namespace qj

// The buttons of a run on the main window in memory (开始, 失败重试), against a local completion
// service.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "run/keyword_list.h"
#include "job_test_support.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"
#include "app/run_log.h"
#include "window_runs.h"

namespace qj {
namespace {

using testing::InterfaceOneReply;

const Bytes kBom = "\xEF\xBB\xBF";
const Bytes kGrin = "\xF0\x9F\x98\x80";  // an emoji, which GBK lacks

Bytes U(const Text& gbk) {
    return AnsiToUtf8(gbk);
}

class JobButtonsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProcessState();
        testing::PrepareRuns(service_);
        SetMainWindow(&window_);
        window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-test");
        service_.SetAnswer([this](const httplib::Request& request, httplib::Response& response) {
            const Text keyword = Utf8ToAnsi(nlohmann::json::parse(request.body)["prompt"].get<std::string>());
            int status = 0;
            {
                std::lock_guard lock(mutex_);
                status = std::exchange(failFirst_[keyword], 0);
            }
            if (status != 0) {
                response.status = status;
                response.set_content(R"({"error":{"message":"busy"}})", "application/json");
                return;
            }
            response.set_content(InterfaceOneReply(AnsiToUtf8(keyword) + " text"), "application/json");
        });
    }
    void TearDown() override { ResetProcessState(); }

    JobSummary Run() { return RunOnWindow(window_); }
    void WriteList(const Bytes& contents) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, contents)); }
    void FailFirstAttemptOf(const Text& keyword, int status) {
        std::lock_guard lock(mutex_);
        failFirst_[keyword] = status;
    }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }
    Text Log() const { return window_.GetText(control::kEditRunLog, kPropContent); }

    testing::TemporaryHome home_;
    testing::LocalCompletionService service_;
    MemoryWindow window_{MainWindowLayout().controls};
    JobPaths paths_ = JobPathsIn(ProgramFolder());
    std::mutex mutex_;
    std::map<Text, int> failFirst_;
};

TEST_F(JobButtonsTest, OnlyOneRunAtATime) {
    WriteList("甲\r\n");
    testing::AnswerLate(service_);
    ASSERT_TRUE(StartGenerationJob());
    EXPECT_FALSE(StartGenerationJob());
    EXPECT_EQ(window_.GetNumber(control::kButtonStart, kPropDisabled), 1);
    while (service_.Seen().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    RequestRunStop();
    for (int i = 0; i < 400 && GenerationJobRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(GenerationJobRunning());
    EXPECT_EQ(service_.Seen().size(), 1u);
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n");
}

TEST_F(JobButtonsTest, FailureRetryButtonPutsFailuresBackBehindTheList) {
    WriteList("k0\r\nk1\r\n");
    FailFirstAttemptOf("k0", 400);
    Run();
    EXPECT_EQ(Read(paths_.failureList), "k0\r\n");
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "new\r\n"));
    HandleClick(window_, control::kButtonRequeueFailed);
    EXPECT_EQ(Read(paths_.keywordList), "new\r\nk0\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_NE(Log().find("已将1个失败关键词移回待采集关键词列表"), Text::npos);
    EXPECT_EQ(Run().succeeded, 2);
}

// A whole run over a list saved by a UTF-8 editor or as Notepad's Unicode, then 失败重试.
class UnicodeList : public ::testing::TestWithParam<ListEncoding> {};

TEST_P(UnicodeList, ARunSendsTheRightKeywordsAndRetriesFailuresInTheListsEncoding) {
    const ListEncoding encoding = GetParam();
    const Bytes mark = encoding == ListEncoding::kUtf8 ? kBom : "\xFF\xFE";
    const Bytes grin = encoding == ListEncoding::kUtf8 ? kGrin : "\x3D\xD8\x00\xDE";
    const auto line = [&](const Text& keyword) { return LineFromKeyword(keyword, encoding); };
    testing::TemporaryHome home;
    testing::LocalCompletionService service;
    testing::PrepareRuns(service);
    MemoryWindow window{MainWindowLayout().controls};
    SetMainWindow(&window);
    window.SetText(control::kEditOpenAiKey, kPropContent, "sk-test");
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(
        ReplaceFileContents(paths.keywordList, mark + line("泡脚\n表情") + grin + line("\n") + line("槟榔\n")));
    service.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        const std::string prompt = nlohmann::json::parse(request.body)["prompt"];
        if (prompt == U("槟榔")) {
            response.status = 400;
            response.set_content(R"({"error":{"message":"bad"}})", "application/json");
        } else {
            response.set_content(testing::InterfaceOneReply(prompt + " text"), "application/json");
        }
    });

    const JobSummary summary = RunOnWindow(window);
    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(summary.failed, 1);
    std::vector<std::string> prompts;
    for (const auto& seen : service.Seen()) {
        prompts.push_back(nlohmann::json::parse(seen.body)["prompt"]);
    }
    EXPECT_EQ(prompts, (std::vector<std::string>{U("泡脚"), U("表情?"), U("槟榔")}));
    EXPECT_EQ(ReadFileBytes(paths.outputFolder + "泡脚.txt"), "泡脚 text");
    const Text log = window.GetText(control::kEditRunLog, kPropContent);
    EXPECT_NE(log.find("关键词【表情?】中有GBK编码没有的字符，已换成“?”"), Text::npos) << log;
    EXPECT_EQ(log.find("关键词【泡脚】中有"), Text::npos);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), mark);
    EXPECT_EQ(ReadFileBytes(paths.failureList), "槟榔\r\n");

    HandleClick(window, control::kButtonRequeueFailed);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), mark + line("槟榔\r\n"));
    ResetProcessState();
}

INSTANTIATE_TEST_SUITE_P(Utf8AndUtf16, UnicodeList, ::testing::Values(ListEncoding::kUtf8, ListEncoding::kUtf16Le),
                         [](const auto& info) { return info.param == ListEncoding::kUtf8 ? "Utf8" : "Utf16Le"; });

}  // namespace
}  // namespace qj

// A run with nothing but its inputs, a stop token and an observer: no window anywhere. What the
// observer is told and what the run-log file keeps, a switch the user flips while the run goes on,
// and a stop.

#include "run/job.h"

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "job_test_support.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "run/log_line.h"
#include "run/run_log_file.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

// Everything a run tells, in the order it told it.
class RecordingObserver : public RunObserver {
public:
    void Logged(const Text& line) override {
        std::lock_guard lock(mutex_);
        lines += line;
        events.push_back("line");
    }
    void Progress(const ProgressFigures& figures, bool over) override {
        std::lock_guard lock(mutex_);
        last = figures;
        events.push_back(over ? "over" : "progress");
    }
    void Running(bool running) override {
        std::lock_guard lock(mutex_);
        events.push_back(running ? "running" : "idle");
    }

    Text lines;
    std::vector<std::string> events;
    ProgressFigures last;

private:
    std::mutex mutex_;
};

class WindowlessRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        const Deployment deployment = service_.Deploy();
        inputs_.take.files = JobPathsIn(ProgramFolder());
        inputs_.request.completion = InterfaceOneProfile(deployment.openAi, deployment.relayOne);
        inputs_.request.key = "sk-value";
        preview_ = std::make_shared<LiveSwitch>(false);
        inputs_.report.preview = preview_;
    }

    Bytes Read(const Text& path) const { return ReadFileBytes(path).value_or("<missing>"); }

    // The one run-log file of the test's runs.
    Bytes RunLogFileBytes() const {
        const Result<std::vector<Text>> names = ListFolder(inputs_.take.files.runLogFolder);
        if (!names || names->size() != 1) {
            return "<not one file>";
        }
        return Read(inputs_.take.files.runLogFolder + names->front());
    }

    testing::TemporaryHome home_;
    testing::LocalCompletionService service_;
    RunInputs inputs_;
    std::shared_ptr<LiveSwitch> preview_;
};

TEST_F(WindowlessRunTest, TheObserverAndTheRunLogFileGetEveryLineAndTheSwitchIsReadPerKeyword) {
    ASSERT_TRUE(ReplaceFileContents(inputs_.take.files.keywordList, "甲\r\n乙\r\n丙\r\n"));
    // The user ticks 预览生成内容 while 乙 is being asked for: from 乙 on the articles are shown.
    service_.SetAnswer([this](const httplib::Request& request, httplib::Response& response) {
        const Text keyword = Utf8ToAnsi(nlohmann::json::parse(request.body)["prompt"].get<std::string>());
        if (keyword == "乙") {
            preview_->Set(true);
        }
        response.set_content(testing::InterfaceOneReply(AnsiToUtf8(keyword + "的文章")), "application/json");
    });
    RecordingObserver observer;
    const JobSummary summary = RunJob(inputs_, observer, StopToken());

    EXPECT_EQ(summary.succeeded, 3);
    EXPECT_EQ(Read(inputs_.take.files.outputFolder + "乙.txt"), "乙的文章");
    EXPECT_EQ(Read(inputs_.take.files.keywordList), "");
    EXPECT_EQ(service_.Seen().at(0).headers.find("Authorization")->second, "Bearer sk-value");

    // The file keeps every line the observer was told, byte for byte.
    EXPECT_EQ(RunLogFileBytes(), observer.lines);
    EXPECT_TRUE(observer.lines.ends_with("】 > > >  任务完成！\r\n"));
    EXPECT_EQ(FindText(observer.lines, "甲的文章"), kNotFound);
    EXPECT_NE(FindText(observer.lines, "乙的文章"), kNotFound);
    EXPECT_NE(FindText(observer.lines, "丙的文章"), kNotFound);

    // Running first; the final figures once, after every progress; idle before the last line.
    ASSERT_GE(observer.events.size(), 4u);
    EXPECT_EQ(observer.events.front(), "running");
    const auto over = std::find(observer.events.begin(), observer.events.end(), "over");
    ASSERT_NE(over, observer.events.end());
    EXPECT_EQ(std::count(over, observer.events.end(), "progress"), 0);
    EXPECT_EQ(observer.events.end()[-2], "idle");
    EXPECT_EQ(observer.events.back(), "line");
    EXPECT_EQ(observer.last.succeeded, 3);
    EXPECT_EQ(observer.last.remaining, 0);
}

TEST_F(WindowlessRunTest, AStopEndsTheRequestAndTheKeywordGoesBack) {
    ASSERT_TRUE(ReplaceFileContents(inputs_.take.files.keywordList, "甲\r\n乙\r\n"));
    StopSource stop;
    service_.SetAnswer([&stop, this](const httplib::Request&, httplib::Response& response) {
        stop.RequestStop();
        service_.Stall(30000);
        response.set_content(testing::InterfaceOneReply("late"), "application/json");
    });
    RecordingObserver observer;
    const JobSummary summary = RunJob(inputs_, observer, stop.Token());
    EXPECT_EQ(summary.end, RunEnd::kStopped);
    EXPECT_EQ(summary.returned, 1);
    EXPECT_EQ(Read(inputs_.take.files.keywordList), "甲\r\n乙\r\n");
    EXPECT_EQ(Read(inputs_.take.files.journal), "");
    EXPECT_EQ(RunLogFileBytes(), observer.lines);
}

}  // namespace
}  // namespace qj

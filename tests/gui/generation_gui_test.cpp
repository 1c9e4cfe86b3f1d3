// Start and Stop clicked on the real window, the job talking to a local completion service.

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/main_window_job.h"
#include "app/process_state.h"
#include "run/keyword_queue.h"
#include "gui/gui_main.h"
#include "gui_test_support.h"
#include "job_test_support.h"
#include "window_runs.h"

namespace qj {
namespace {

using testing::G;
using testing::OpenedMainWindow;
using testing::WaitFor;

class GenerationGuiTest : public ::testing::Test {
protected:
    void SetUp() override { testing::PrepareRuns(service_); }
    void TearDown() override {
        RequestRunStop();
        WaitFor([] { return !GenerationJobRunning(); });
        ResetProcessState();
    }

    QString RunLogText() { return window_.Get<QPlainTextEdit>(control::kEditRunLog)->toPlainText(); }
    void WriteList(const char* utf8) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, G(utf8))); }

    testing::TemporaryHome home_;
    testing::LocalCompletionService service_;
    OpenedMainWindow window_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

TEST_F(GenerationGuiTest, StartRunsTheListWhileTheWindowStaysUsable) {
    WriteList("泡脚\r\n槟榔\r\n");
    window_.Get<QLineEdit>(control::kEditOpenAiKey)->setText(QStringLiteral("sk-gui"));
    service_.SetAnswer([](const httplib::Request&, httplib::Response& response) {
        response.set_content(testing::InterfaceOneReply("done"), "application/json");
    });
    window_.Click(control::kButtonStart);
    ASSERT_TRUE(WaitFor([&] { return RunLogText().contains(QStringLiteral("任务完成！")); }));
    EXPECT_TRUE(RunLogText().contains(QStringLiteral("关键词【槟榔】内容生成成功，已保存到本地目录中！")));
    EXPECT_EQ(ReadFileBytes(paths_.outputFolder + G("泡脚.txt")), "done");
    EXPECT_TRUE(WaitFor([&] { return window_.Get<QPushButton>(control::kButtonStart)->isEnabled(); }));
    EXPECT_EQ(service_.Seen().at(0).headers.find("Authorization")->second, "Bearer sk-gui");
}

TEST_F(GenerationGuiTest, StopDuringARequestPutsTheKeywordBack) {
    WriteList("甲\r\n");
    testing::AnswerLate(service_);
    window_.Click(control::kButtonStart);
    ASSERT_TRUE(WaitFor([&] { return !service_.Seen().empty(); }));
    EXPECT_FALSE(window_.Get<QPushButton>(control::kButtonStart)->isEnabled());
    window_.Click(control::kButtonStop);
    ASSERT_TRUE(WaitFor([&] { return RunLogText().contains(QStringLiteral("任务完成！")); }));
    EXPECT_TRUE(RunLogText().contains(QStringLiteral("程序将在1分钟后自动结束")));
    EXPECT_TRUE(WaitFor([&] { return window_.Get<QPushButton>(control::kButtonStart)->isEnabled(); }));
    EXPECT_EQ(ReadFileBytes(paths_.keywordList), G("甲\r\n"));
    EXPECT_FALSE(ReadFileBytes(paths_.failureList));
}

// Closing the window ends the program: a run still going stops first and its keyword in flight
// goes back into the list.
TEST(GenerationGui, ClosingTheWindowDuringARunPutsTheKeywordBack) {
    testing::TemporaryHome home;
    testing::LocalCompletionService service;
    testing::PrepareRuns(service);
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, G("甲\r\n乙\r\n")));
    testing::AnswerLate(service);
    QTimer::singleShot(0, [] { HandleClick(*MainWindow(), control::kButtonStart); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&service] {
        if (!service.Seen().empty()) {
            QApplication::quit();
        }
    });
    poll.start(10);
    gui::RunMainWindow(MainWindowLayout());
    EXPECT_FALSE(GenerationJobRunning());
    EXPECT_EQ(ReadFileBytes(paths.keywordList), G("甲\r\n乙\r\n"));
    EXPECT_EQ(ReadFileBytes(paths.journal), "");
    ResetProcessState();
}

}  // namespace
}  // namespace qj

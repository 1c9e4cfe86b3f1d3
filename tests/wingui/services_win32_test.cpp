// The program through the native window against local services, as the user drives it: 开始 and 结束
// with a completion service, closing the window during a run, 查询余额, the notice pages, 失败重试.

#include <gtest/gtest.h>

#include <thread>

#include "app/main_window_job.h"
#include "app/process_state.h"
#include "app/service_queries.h"
#include "run/keyword_queue.h"
#include "job_test_support.h"
#include "local_deployment.h"
#include "local_servers.h"
#include "notice_site.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "temporary_home.h"
#include "win32_test_support.h"
#include "window_runs.h"
#include "wingui/message_box.h"
#include "wingui/win32_main.h"

namespace qj {
namespace {

using test::RawRequest;
using test::RawServer;
using testing::LocalDeployment;
using testing::LocalOrigin;
using testing::NoticeSite;
using testing::OpenedMainWindow;
using testing::TemporaryHome;

class JobWin32Test : public ::testing::Test {
protected:
    void SetUp() override { testing::PrepareRuns(service_); }
    void TearDown() override {
        RequestRunStop();
        window_.WaitFor([] { return !GenerationJobRunning(); });
        ResetProcessState();
    }

    Text RunLog() { return window_->GetText(control::kEditRunLog, kPropContent); }
    bool RunLogHas(const char* text) { return RunLog().find(text) != Text::npos; }
    bool StartEnabled() { return IsWindowEnabled(window_->Control(control::kButtonStart)) != FALSE; }

    TemporaryHome home_;
    testing::LocalCompletionService service_;
    OpenedMainWindow window_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

TEST_F(JobWin32Test, StartWritesOneArticlePerKeywordWhileTheWindowAnswers) {
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "泡脚\r\n槟榔\r\n"));
    window_->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
    window_.Type(control::kEditOpenAiKey, L"sk-win");
    service_.SetAnswer([](const httplib::Request&, httplib::Response& response) {
        response.set_content(testing::InterfaceOneReply("done"), "application/json");
    });
    window_.Click(control::kButtonStart);
    ASSERT_TRUE(window_.WaitFor([&] { return RunLogHas("任务完成！"); })) << RunLog();
    EXPECT_TRUE(RunLogHas("关键词【槟榔】内容生成成功，已保存到本地目录中！"));
    EXPECT_EQ(ReadFileBytes(paths_.outputFolder + "泡脚.txt"), "done");
    EXPECT_EQ(ReadFileBytes(paths_.outputFolder + "槟榔.txt"), "done");
    // The run is over once 开始 is enabled again; the list is written by then.
    ASSERT_TRUE(window_.WaitFor([&] { return StartEnabled() && !GenerationJobRunning(); }));
    EXPECT_EQ(ReadFileBytes(paths_.keywordList), "") << RunLog();
    ASSERT_EQ(service_.Seen().size(), 2u);
    EXPECT_EQ(service_.Seen().at(0).headers.find("Authorization")->second, "Bearer sk-win");
}

TEST_F(JobWin32Test, StopDuringARequestPutsTheKeywordBack) {
    ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, "甲\r\n"));
    testing::AnswerLate(service_);
    window_.Click(control::kButtonStart);
    ASSERT_TRUE(window_.WaitFor([&] { return !service_.Seen().empty(); }));
    EXPECT_FALSE(StartEnabled());
    window_.Click(control::kButtonStop);
    ASSERT_TRUE(window_.WaitFor([&] { return RunLogHas("任务完成！"); })) << RunLog();
    EXPECT_TRUE(RunLogHas("程序将在1分钟后自动结束"));
    EXPECT_TRUE(window_.WaitFor([&] { return StartEnabled(); }));
    EXPECT_EQ(ReadFileBytes(paths_.keywordList), "甲\r\n");
    EXPECT_FALSE(ReadFileBytes(paths_.failureList));
}

// Closing the window ends the program: a run still going stops first and its keyword in flight
// goes back into the list.
TEST(JobWin32, ClosingTheWindowDuringARunPutsTheKeywordBack) {
    TemporaryHome home;
    testing::LocalCompletionService service;
    testing::PrepareRuns(service);
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, "甲\r\n乙\r\n"));
    testing::AnswerLate(service);
    // The user: clicks 开始 once the window is up, and closes it once the first request is out.
    std::thread user([&service] {
        const ULONGLONG end = GetTickCount64() + 20000;
        while (!MainWindow() && GetTickCount64() < end) {
            std::this_thread::yield();
        }
        auto* window = dynamic_cast<wingui::Win32Window*>(MainWindow());
        if (!window) {
            return;
        }
        HWND top = window->TopLevel();
        PostMessageW(window->Control(control::kButtonStart), BM_CLICK, 0, 0);
        while (service.Seen().empty() && GetTickCount64() < end) {
            std::this_thread::yield();
        }
        PostMessageW(top, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(wingui::RunMainWindow(MainWindowLayout(), {}), 0);
    user.join();
    EXPECT_FALSE(GenerationJobRunning());
    EXPECT_EQ(ReadFileBytes(paths.keywordList), "甲\r\n乙\r\n");
    EXPECT_EQ(ReadFileBytes(paths.journal), "");
    ResetProcessState();
}

RawServer::Responder Reply(const std::string& body) {
    return [=](int socket, const RawRequest&) {
        RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body);
    };
}

TEST(ServicesWin32, CreditQueryShowsTheFiguresAndARefusalSaysSo) {
    TemporaryHome home;
    RawServer openAi(Reply(R"({"object":"credit_summary","total_used":0.42,"total_available":17.58,"x":1})"));
    RawServer relayTwo(Reply(R"({"success":false,"msg":"invalid key"})"));
    LocalDeployment deployment({.openAi = LocalOrigin(openAi.port()), .relayTwoApi = LocalOrigin(relayTwo.port())});
    OpenedMainWindow window;
    window->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
    window.Type(control::kEditOpenAiKey, L"sk-win");

    window.Click(control::kButtonQueryCredit);
    // The worker fills the label first and restores the caption after it: judge both once it ended.
    ASSERT_TRUE(window.WaitFor([] { return RunningCreditQueries() == 0; }));
    EXPECT_EQ(window->GetText(control::kLabelCredit, kPropContent), "余额：17.58 美元,已使用：0.42 美元");
    EXPECT_EQ(window->GetText(control::kButtonQueryCredit, kPropCaption), "查询余额");
    ASSERT_EQ(openAi.Requests().size(), 1u);
    const std::vector<std::string> lines = openAi.Requests()[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-win"), lines.end());

    window.Click(control::kRadioInterfaceTwo);
    wingui::QueueMessageBoxAnswer();
    window.Click(control::kButtonQueryCredit);
    std::vector<wingui::AnsweredMessageBox> answered;
    ASSERT_TRUE(window.WaitFor([&] {
        for (auto& box : wingui::TakeAnsweredMessageBoxes()) {
            answered.push_back(box);
        }
        return !answered.empty() && RunningCreditQueries() == 0;
    }));
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, "余额查询失败，请确认API秘钥正确！");
    EXPECT_EQ(answered[0].caption, kDefaultMessageCaption);
    EXPECT_EQ(window->GetText(control::kLabelCredit, kPropContent), "");
    ASSERT_EQ(relayTwo.Requests().size(), 1u);
    EXPECT_EQ(relayTwo.Requests()[0].RequestLine(), "POST /chat/balance HTTP/1.1");
}

TEST(ServicesWin32, TheNoticePagesListAdvertsThatOpenOnDoubleClickAndShowTheVersion) {
    TemporaryHome home;
    NoticeSite site({200, "青笺官网----https://site.test/\r\n本地----file:///etc/passwd\r\n工具----http://tool.test/a"},
                    {200, "最新版本：1.1"});
    LocalDeployment deployment({.mainSite = site.Origin(), .secondarySite = site.Origin()});
    SetProgramVersion("1.0");
    OpenedMainWindow window;

    window.ClickTab(page::kBusiness);
    ASSERT_EQ(window->ListRowCount(control::kListAdverts), 3);
    EXPECT_EQ(window->ListCellText(control::kListAdverts, 0, 0), "1");
    EXPECT_EQ(window->ListCellText(control::kListAdverts, 0, 1), "青笺官网");
    EXPECT_EQ(window->ListCellText(control::kListAdverts, 2, 1), "工具");
    // Only web addresses open.
    for (int row : {0, 1, 2}) {
        window.DoubleClickRow(control::kListAdverts, row);
    }
    EXPECT_EQ(window.opened, (std::vector<Text>{"https://site.test/", "http://tool.test/a"}));

    window.ClickTab(page::kUpdate);
    EXPECT_EQ(window->ListRowCount(control::kListAdverts), 0);
    EXPECT_EQ(window->GetText(control::kLabelCurrentVersion, kPropContent), "当前软件版本：1.0");
    EXPECT_EQ(window->GetText(control::kEditLatestVersion, kPropContent), "最新版本：1.1");
}

TEST(ServicesWin32, RequeueFailedMovesTheFailuresBehindTheList) {
    TemporaryHome home;
    OpenedMainWindow window;
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, "甲\r\n"));
    ASSERT_TRUE(ReplaceFileContents(paths.failureList, "乙\r\n丙\r\n"));
    window.Click(control::kButtonRequeueFailed);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), "甲\r\n乙\r\n丙\r\n");
    EXPECT_EQ(ReadFileBytes(paths.failureList), "");
    EXPECT_NE(window->GetText(control::kEditRunLog, kPropContent).find("已将2个失败关键词移回待采集关键词列表"),
              Text::npos);
}

}  // namespace
}  // namespace qj

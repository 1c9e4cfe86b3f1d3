#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

#include "app/process_state.h"
#include "run/keyword_queue.h"
#include "gui/gui_main.h"
#include "gui/message_box.h"
#include "gui_test_support.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "started_window.h"
#include "temporary_home.h"
#include "app/run_log.h"

namespace qj {
namespace {

using gui::ToQt;
using testing::G;
using testing::OpenedMainWindow;
using testing::ReadBytes;
using testing::TemporaryHome;
using testing::UrlRecorder;

const QString kAbout = QStringLiteral(
    "软件名称：青笺\n版本号：1.0\n官网：https://qingjian.example\n\n如果你觉得本软件好用，可以了解下我们收费产品。\n");

std::filesystem::path SettingsFile() {
    return NativePath(ProgramPath(kSettingsFileTail));
}

std::tm FixedTime() {
    std::tm when{};
    when.tm_year = 2023 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 11;
    when.tm_hour = 9;
    when.tm_min = 5;
    return when;
}

TEST(MainWindowGui, FirstStartShowsTheDesignedState) {
    TemporaryHome home;
    OpenedMainWindow window;
    EXPECT_EQ(window.Get<QPlainTextEdit>(control::kEditRunLog)->toPlainText(), kAbout);
    EXPECT_EQ(window.Get<QLabel>(control::kLabelCurrentVersion)->text(), QStringLiteral("当前版本：1.0"));
    EXPECT_TRUE(window.Get<QRadioButton>(control::kRadioInterfaceOne)->isChecked());
    EXPECT_FALSE(window.Get<QRadioButton>(control::kRadioInterfaceTwo)->isChecked());
    EXPECT_FALSE(window.Get<QCheckBox>(control::kCheckPreview)->isChecked());
    EXPECT_FALSE(window.Get<QCheckBox>(control::kCheckSaveAsHtml)->isChecked());
    EXPECT_TRUE(window.Get<QLineEdit>(control::kEditOpenAiKey)->text().isEmpty());
    EXPECT_TRUE(window.Get<QPlainTextEdit>(control::kEditLatestVersion)->toPlainText().isEmpty());
    EXPECT_EQ(window.Get<QTabWidget>(control::kTabMain)->currentIndex(), 1);
    const QString usage = window.Get<QLabel>(control::kLabelUsage)->text();
    EXPECT_TRUE(usage.contains(
        QStringLiteral("接口一：https://relay-one.example/vip.html\n接口二：https://relay-two.example\n")));
    EXPECT_EQ(window.Get<QLabel>(control::kLabelBlog)->text(), QStringLiteral("岚舟博客：https://qingjian.example"));
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST(MainWindowGui, SaveWritesTheExactFileAndSaysSo) {
    TemporaryHome home;
    OpenedMainWindow window;
    gui::QueueMessageBoxAnswer();
    window.Click(control::kButtonSaveSettings);
    EXPECT_EQ(ReadBytes(SettingsFile()), G(testing::kDesignedSettingsFile.c_str()));
    const auto answered = gui::TakeAnsweredMessageBoxes();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, QStringLiteral("保存成功！"));
    EXPECT_EQ(answered[0].caption, QStringLiteral("信息："));
}

TEST(MainWindowGui, WhatTheUserChangedComesBackInANewWindow) {
    TemporaryHome home;
    {
        OpenedMainWindow window;
        window->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
        QTest::keyClicks(window.Get<QLineEdit>(control::kEditOpenAiKey), "sk-typed\"key");
        window.Get<QLineEdit>(control::kEditWenxinSecretKey)->setText(QStringLiteral("文心秘钥"));
        window.Get<QPlainTextEdit>(control::kEditLatestVersion)->setPlainText(QStringLiteral("第一行\n第二行"));
        window.Click(control::kCheckSaveAsHtml, QPoint(6, 12));
        window.Click(control::kRadioInterfaceTwo, QPoint(6, 12));
        ASSERT_TRUE(window.Get<QCheckBox>(control::kCheckSaveAsHtml)->isChecked());
        ASSERT_TRUE(window.Get<QRadioButton>(control::kRadioInterfaceTwo)->isChecked());
        RunLog(G("这一行不会被保存"));
        gui::QueueMessageBoxAnswer();
        window.Click(control::kButtonSaveSettings);
        const std::string file = ReadBytes(SettingsFile());
        EXPECT_NE(file.find(G("编辑框_OpenAi_API秘钥=sk-typed#引号key\r\n")), std::string::npos);
        EXPECT_NE(file.find(G("编辑框_最新版本=第一行><br><第二行\r\n")), std::string::npos);
        EXPECT_EQ(file.find(G("运行日志")), std::string::npos);
        EXPECT_EQ(file.find(G("这一行")), std::string::npos);
        gui::TakeAnsweredMessageBoxes();
    }
    OpenedMainWindow restarted;
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditOpenAiKey)->text(), QStringLiteral("sk-typed\"key"));
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditWenxinSecretKey)->text(), QStringLiteral("文心秘钥"));
    EXPECT_EQ(restarted.Get<QPlainTextEdit>(control::kEditLatestVersion)->toPlainText(),
              QStringLiteral("第一行\n第二行"));
    EXPECT_TRUE(restarted.Get<QCheckBox>(control::kCheckSaveAsHtml)->isChecked());
    EXPECT_FALSE(restarted.Get<QCheckBox>(control::kCheckPreview)->isChecked());
    EXPECT_TRUE(restarted.Get<QRadioButton>(control::kRadioInterfaceTwo)->isChecked());
    EXPECT_FALSE(restarted.Get<QRadioButton>(control::kRadioInterfaceOne)->isChecked());
    EXPECT_EQ(restarted.Get<QPlainTextEdit>(control::kEditRunLog)->toPlainText(), kAbout);
}

TEST(MainWindowGui, AFailedSaveIsReportedAsAFailure) {
    TemporaryHome home;
    OpenedMainWindow window;
    home.PointAtUnwritableFolder();
    gui::QueueMessageBoxAnswer();
    window.Click(control::kButtonSaveSettings);
    const auto answered = gui::TakeAnsweredMessageBoxes();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_TRUE(answered[0].text.startsWith(QStringLiteral("保存失败！"))) << answered[0].text.toStdString();
    EXPECT_TRUE(answered[0].text.contains(ToQt(ProgramPath(kSettingsFileTail))));
    EXPECT_EQ(answered[0].icon, MessageIcon::kError);
}

TEST(MainWindowGui, StopLogsItsLineWithTheTimeStamp) {
    TemporaryHome home;
    OpenedMainWindow window;
    StartRunStop();
    SetRunLogClock(FixedTime);
    window.Click(control::kButtonStop);
    SetRunLogClock(nullptr);
    EXPECT_TRUE(RunStopRequested());
    StartRunStop();
    auto* log = window.Get<QPlainTextEdit>(control::kEditRunLog);
    EXPECT_EQ(log->toPlainText(), kAbout + QStringLiteral("【2023年2月11日9时5分】 > > >  程序将在1分钟后自动结束\n"));
    EXPECT_TRUE(log->textCursor().atEnd());
}

TEST(MainWindowGui, OpenButtonsCreateThenOpenTheirTargets) {
    TemporaryHome home;
    UrlRecorder recorder;
    OpenedMainWindow window;
    window.Click(control::kButtonImportKeywords);
    window.Click(control::kButtonViewOutput);
    window.Click(control::kButtonViewFailedKeywords);
    ASSERT_EQ(recorder.opened.size(), 3u);
    EXPECT_EQ(recorder.opened[0], QUrl::fromLocalFile(ToQt(ProgramPath(kKeywordListTail))));
    EXPECT_EQ(recorder.opened[1], QUrl::fromLocalFile(ToQt(ProgramPath(kOutputFolderTail))));
    EXPECT_EQ(recorder.opened[2], QUrl::fromLocalFile(ToQt(ProgramPath(kFailureListTail))));
    EXPECT_TRUE(QFileInfo(recorder.opened[0].toLocalFile()).isFile());
    EXPECT_TRUE(QFileInfo(recorder.opened[1].toLocalFile()).isDir());
    window->ShellOpen("https://qingjian.example/zhanzhang/");
    ASSERT_EQ(recorder.opened.size(), 4u);
    EXPECT_EQ(recorder.opened[3], QUrl(QStringLiteral("https://qingjian.example/zhanzhang/")));
}

TEST(MainWindowGui, StartUpRunsTheWindowUntilItIsClosed) {
    TemporaryHome home;
    WindowModel* during = nullptr;
    Text log;
    QTimer::singleShot(0, [&] {
        during = MainWindow();
        log = during->GetText(control::kEditRunLog, kPropContent);
        auto* window = dynamic_cast<gui::QtWindow*>(during);
        window->TopLevel()->close();
    });
    EXPECT_EQ(gui::RunMainWindow(MainWindowLayout()), 0);
    ASSERT_NE(during, nullptr);
    EXPECT_EQ(log.rfind(G("软件名称：青笺"), 0), 0u);
    EXPECT_EQ(MainWindow(), nullptr);
    // The window outlives its widgets for late callers, which now get nothing.
    EXPECT_EQ(during->GetText(control::kEditRunLog, kPropContent), "");
}

TEST(MainWindowGui, AWindowThatCannotBeCreatedEndsStartUpWithMinusOne) {
    const ControlRow broken[] = {{.name = "a", .kind = kind::kButton, .parent = "nowhere"}};
    gui::QueueMessageBoxAnswer();
    EXPECT_EQ(gui::RunMainWindow(WindowLayout{.title = "x", .controls = broken}), -1);
    const auto answered = gui::TakeAnsweredMessageBoxes();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, QStringLiteral("运行时出错!\n\n错误信息：载入启动窗口失败\n"));
    EXPECT_EQ(answered[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(answered[0].icon, MessageIcon::kError);
}

// With QJ_SCREENSHOT_DIR set, saves a picture of every tab page there, to look at the layout.
TEST(MainWindowGui, EveryPageRenders) {
    TemporaryHome home;
    OpenedMainWindow window;
    const QString folder = qEnvironmentVariable("QJ_SCREENSHOT_DIR");
    std::size_t pages = 0;  // every page of the table
    for (const ControlRow& row : MainWindowLayout().controls) {
        if (Text(row.name) == control::kTabMain) {
            pages = row.pages.size();
        }
    }
    for (int page = 0; page < static_cast<int>(pages); ++page) {
        window->SetCurrentTabPage(control::kTabMain, page);
        const QPixmap picture = window->TopLevel()->grab();
        EXPECT_EQ(picture.size(), QSize(1016, 738));
        if (!folder.isEmpty()) {
            EXPECT_TRUE(picture.save(QDir(folder).filePath(QStringLiteral("page%1.png").arg(page))));
        }
    }
}

}  // namespace
}  // namespace qj

#include <gtest/gtest.h>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>

#include "app/main_window_job.h"
#include "run/job.h"
#include "run/keyword_queue.h"
#include "gui/message_box.h"
#include "gui_test_support.h"
#include "local_chat_service.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "temporary_home.h"

namespace qj {
namespace {

using testing::G;
using testing::OpenedMainWindow;
using testing::ReadBytes;
using testing::TemporaryHome;
using testing::WaitFor;

TEST(InterfaceThreeGui, TheThirdRadioBoxIsOneOfTheInterfaceGroup) {
    TemporaryHome home;
    OpenedMainWindow window;
    auto* one = window.Get<QRadioButton>(control::kRadioInterfaceOne);
    auto* two = window.Get<QRadioButton>(control::kRadioInterfaceTwo);
    auto* three = window.Get<QRadioButton>(control::kRadioInterfaceThree);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->text(), QStringLiteral("接口三"));
    EXPECT_EQ(three->parentWidget(), one->parentWidget());
    auto* tab = window.Get<QTabWidget>(control::kTabMain);
    EXPECT_EQ(three->mapTo(tab, QPoint(0, 0)), QPoint(236, 94));
    EXPECT_EQ(three->size(), QSize(58, 24));

    window.Click(control::kRadioInterfaceThree, QPoint(6, 12));
    EXPECT_TRUE(three->isChecked());
    EXPECT_FALSE(one->isChecked());
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceThree, kPropChecked), 1);
    window.Click(control::kRadioInterfaceTwo, QPoint(6, 12));
    EXPECT_TRUE(two->isChecked());
    EXPECT_FALSE(three->isChecked());
}

TEST(InterfaceThreeGui, ThePageComesLastAndItsSettingsComeBack) {
    TemporaryHome home;
    {
        OpenedMainWindow window;
        auto* tab = window.Get<QTabWidget>(control::kTabMain);
        ASSERT_EQ(tab->count(), 9);  // the article checks' page after it, then publishing's, then the templates'
        EXPECT_EQ(tab->tabText(page::kChecks), QStringLiteral("文章检查"));
        EXPECT_EQ(tab->tabText(page::kPublishing), QStringLiteral("发布设置"));
        EXPECT_EQ(tab->tabText(page::kTemplates), QStringLiteral("模板与内链"));
        EXPECT_EQ(tab->tabText(4), QStringLiteral("在线升级"));
        EXPECT_EQ(tab->tabText(page::kInterfaceThree), QStringLiteral("接口三设置"));
        EXPECT_EQ(window.Get<QLabel>(control::kLabelInterfaceThreeBaseUrl)->text(), QStringLiteral("API地址："));
        EXPECT_TRUE(window.Get<QLabel>(control::kLabelInterfaceThreeHint)
                        ->text()
                        .contains(QStringLiteral("https://api.openai.com/v1")));

        window->SetCurrentTabPage(control::kTabMain, page::kInterfaceThree);
        QTest::keyClicks(window.Get<QLineEdit>(control::kEditInterfaceThreeBaseUrl), "http://127.0.0.1:11434/v1");
        QTest::keyClicks(window.Get<QLineEdit>(control::kEditInterfaceThreeModel), "qwen2.5:7b");
        QTest::keyClicks(window.Get<QLineEdit>(control::kEditInterfaceThreeTemperature), "0.6");
        window.Get<QPlainTextEdit>(control::kEditInterfaceThreePrompt)
            ->setPlainText(QStringLiteral("围绕{关键词}写作\n不少于500字"));
        window.Get<QPlainTextEdit>(control::kEditInterfaceThreeSystemPrompt)->setPlainText(QStringLiteral("你是编辑"));
        window.Get<QPlainTextEdit>(control::kEditInterfaceThreeBackups)
            ->setPlainText(QStringLiteral("https://api.deepseek.com/v1 sk-1 deepseek-chat\n- sk-2"));
        QTest::keyClicks(window.Get<QLineEdit>(control::kEditInterfaceThreeProxy), "http://u:p@127.0.0.1:7890");
        window.Click(control::kRadioInterfaceThree, QPoint(6, 12));
        gui::QueueMessageBoxAnswer();
        window.Click(control::kButtonSaveSettings);
        gui::TakeAnsweredMessageBoxes();
        const std::string file = ReadBytes(NativePath(ProgramPath(kSettingsFileTail)));
        EXPECT_NE(file.find(G("编辑框_接口三_提示词=围绕{关键词}写作><br><不少于500字\r\n")), std::string::npos);
        EXPECT_NE(file.find(G("单选框_接口三=真\r\n")), std::string::npos);
    }
    OpenedMainWindow restarted;
    EXPECT_TRUE(restarted.Get<QRadioButton>(control::kRadioInterfaceThree)->isChecked());
    EXPECT_FALSE(restarted.Get<QRadioButton>(control::kRadioInterfaceOne)->isChecked());
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditInterfaceThreeBaseUrl)->text(),
              QStringLiteral("http://127.0.0.1:11434/v1"));
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditInterfaceThreeModel)->text(), QStringLiteral("qwen2.5:7b"));
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditInterfaceThreeTemperature)->text(), QStringLiteral("0.6"));
    EXPECT_EQ(restarted.Get<QPlainTextEdit>(control::kEditInterfaceThreePrompt)->toPlainText(),
              QStringLiteral("围绕{关键词}写作\n不少于500字"));
    EXPECT_EQ(restarted.Get<QPlainTextEdit>(control::kEditInterfaceThreeSystemPrompt)->toPlainText(),
              QStringLiteral("你是编辑"));
    EXPECT_EQ(restarted.Get<QPlainTextEdit>(control::kEditInterfaceThreeBackups)->toPlainText(),
              QStringLiteral("https://api.deepseek.com/v1 sk-1 deepseek-chat\n- sk-2"));
    EXPECT_EQ(restarted.Get<QLineEdit>(control::kEditInterfaceThreeProxy)->text(),
              QStringLiteral("http://u:p@127.0.0.1:7890"));
}

// Start on the real window with a refused main key and a backup endpoint that works.
TEST(InterfaceThreeGui, ARunFailsOverToTheBackupEndpoint) {
    TemporaryHome home;
    testing::LocalChatService service;
    service.Plan("sk-refused", {.failStatus = 401});
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, G("泡脚\r\n槟榔\r\n")));
    OpenedMainWindow window;
    window.Click(control::kRadioInterfaceThree, QPoint(6, 12));
    window.Get<QLineEdit>(control::kEditOpenAiKey)->setText(QStringLiteral("sk-refused"));
    window.Get<QLineEdit>(control::kEditInterfaceThreeBaseUrl)->setText(QString::fromStdString(service.Base()));
    window.Get<QPlainTextEdit>(control::kEditInterfaceThreeBackups)->setPlainText(QStringLiteral("- sk-backup"));
    const auto log = [&] { return window.Get<QPlainTextEdit>(control::kEditRunLog)->toPlainText(); };
    window.Click(control::kButtonStart);
    ASSERT_TRUE(WaitFor([&] { return log().contains(QStringLiteral("任务完成！")); }));
    EXPECT_TRUE(log().contains(QStringLiteral("关键词【泡脚】改由端点2生成"))) << log().toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("端点2：文章2篇，失败0次，429回答0次")));
    EXPECT_TRUE(ReadFileBytes(paths.outputFolder + G("槟榔.txt")));
    EXPECT_EQ(service.Of("sk-refused").requests, 1);
    EXPECT_TRUE(WaitFor([] { return !GenerationJobRunning(); }));
}

}  // namespace
}  // namespace qj

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "checks/check_settings.h"
#include "services/endpoint_lines.h"
#include "run/keyword_queue.h"
#include "platform/program_folder.h"
#include "settings/deployment.h"
#include "settings/settings_store.h"
#include "started_window.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"
#include "app/run_log.h"

namespace qj {
namespace {

using testing::kDesignedSettingsFile;
using testing::ReadBytes;
using testing::StartedWindow;
using testing::TemporaryHome;
using testing::WriteBytes;

const Text kAbout =
    "软件名称：青笺\r\n版本号：1.0\r\n官网：https://"
    "qingjian.example\r\n\r\n如果你觉得本软件好用，可以了解下我们收费产品。\r\n";

std::filesystem::path SettingsFile() {
    return NativePath(ProgramPath(kSettingsFileTail));
}

TEST(MainWindowTable, ControlsInControlOrderWithTheirKinds) {
    const std::pair<const char*, const char*> expected[] = {
        {"选择框_以HTML源码形式保存", kind::kCheck},
        {"单选框_接口二", kind::kRadio},
        {"单选框_接口一", kind::kRadio},
        {"单选框_接口三", kind::kRadio},
        {"透明标签10", kind::kLabel},
        {"按钮_测试", kind::kButton},
        {"透明标签9", kind::kLabel},
        {"编辑框_百度文心_Secretkey", kind::kEdit},
        {"透明标签8", kind::kLabel},
        {"编辑框_百度文心_APIKEY", kind::kEdit},
        {"选择框_预览生成内容", kind::kCheck},
        {"透明标签7", kind::kLabel},
        {"按钮_OpenAi_查看失败关键词", kind::kButton},
        {"透明标签6", kind::kLabel},
        {"透明标签5", kind::kLabel},
        {"按钮_OpenAi_查看生成内容", kind::kButton},
        {"透明标签4", kind::kLabel},
        {"透明标签3", kind::kLabel},
        {"按钮_OpenAi_查询余额", kind::kButton},
        {"编辑框_OpenAi_API秘钥", kind::kEdit},
        {"透明标签2", kind::kLabel},
        {"按钮_OpenAi_导入采集关键词", kind::kButton},
        {"透明标签1", kind::kLabel},
        {"按钮_开始", kind::kButton},
        {"按钮_结束", kind::kButton},
        {"按钮_保存配置", kind::kButton},
        {"分组框6", kind::kGroup},
        {"透明标签18", kind::kLabel},
        {"超级列表框_内页广告", kind::kList},
        {"编辑框_最新版本", kind::kEdit},
        {"透明标签_当前版本", kind::kLabel},
        {"透明标签_官方网站", kind::kLabel},
        {"分组框5", kind::kGroup},
        {"编辑框_运行日志", kind::kEdit},
        {"高级选择夹1", kind::kTab},
        {"透明标签_接口三_API地址", kind::kLabel},
        {"编辑框_接口三_API地址", kind::kEdit},
        {"透明标签_接口三_模型", kind::kLabel},
        {"编辑框_接口三_模型", kind::kEdit},
        {"透明标签_接口三_温度", kind::kLabel},
        {"编辑框_接口三_温度", kind::kEdit},
        {"透明标签_接口三_提示词", kind::kLabel},
        {"编辑框_接口三_提示词", kind::kEdit},
        {"透明标签_接口三_系统提示词", kind::kLabel},
        {"编辑框_接口三_系统提示词", kind::kEdit},
        {"透明标签_接口三_说明", kind::kLabel},
        {"透明标签_并发数", kind::kLabel},
        {"编辑框_并发数", kind::kEdit},
        {"透明标签_失败重试次数", kind::kLabel},
        {"编辑框_失败重试次数", kind::kEdit},
        {"透明标签_并发说明", kind::kLabel},
        {"选择框_跳过已生成", kind::kCheck},
        {"按钮_OpenAi_失败重试", kind::kButton},
        {"进度条_任务进度", kind::kProgress},
        {"透明标签_接口三_代理", kind::kLabel},
        {"编辑框_接口三_代理", kind::kEdit},
        {"透明标签_接口三_备用接口", kind::kLabel},
        {"编辑框_接口三_备用接口", kind::kEdit},
        {"透明标签_检查_续写次数", kind::kLabel},
        {"编辑框_检查_续写次数", kind::kEdit},
        {"透明标签_检查_最少字数", kind::kLabel},
        {"编辑框_检查_最少字数", kind::kEdit},
        {"透明标签_检查_相似度", kind::kLabel},
        {"编辑框_检查_相似度", kind::kEdit},
        {"透明标签_检查_违禁词", kind::kLabel},
        {"编辑框_检查_违禁词", kind::kEdit},
        {"透明标签_检查_拒答短语", kind::kLabel},
        {"编辑框_检查_拒答短语", kind::kEdit},
        {"透明标签_检查_说明", kind::kLabel},
        {"透明标签_发布_站点", kind::kLabel},
        {"编辑框_发布_站点", kind::kEdit},
        {"选择框_发布_开启", kind::kCheck},
        {"选择框_发布_每站都发", kind::kCheck},
        {"透明标签_发布_状态", kind::kLabel},
        {"编辑框_发布_状态", kind::kEdit},
        {"透明标签_发布_分类", kind::kLabel},
        {"编辑框_发布_分类", kind::kEdit},
        {"透明标签_发布_标签", kind::kLabel},
        {"编辑框_发布_标签", kind::kEdit},
        {"透明标签_发布_每天篇数", kind::kLabel},
        {"编辑框_发布_每天篇数", kind::kEdit},
        {"透明标签_发布_时段", kind::kLabel},
        {"编辑框_发布_时段", kind::kEdit},
        {"按钮_发布已生成", kind::kButton},
        {"透明标签_发布_说明", kind::kLabel},
        {"透明标签_费用上限", kind::kLabel},
        {"编辑框_费用上限", kind::kEdit},
        {"透明标签_费用上限说明", kind::kLabel},
        {"选择框_接口三_批量", kind::kCheck},
        {"透明标签_接口三_批量上限MB", kind::kLabel},
        {"编辑框_接口三_批量上限MB", kind::kEdit},
        {"选择框_接口三_批量失败直接请求", kind::kCheck},
        {"透明标签_接口三_标题提示词", kind::kLabel},
        {"编辑框_接口三_标题提示词", kind::kEdit},
        {"透明标签_接口三_大纲提示词", kind::kLabel},
        {"编辑框_接口三_大纲提示词", kind::kEdit},
        {"透明标签_内链", kind::kLabel},
        {"编辑框_内链", kind::kEdit},
        {"透明标签_内链_每篇", kind::kLabel},
        {"编辑框_内链_每篇", kind::kEdit},
        {"透明标签_模板说明", kind::kLabel},
    };
    const ControlTable table = MainWindowLayout().controls;
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(Text(table[i].name), expected[i].first) << i;
        EXPECT_EQ(Text(table[i].kind), expected[i].second) << table[i].name;
    }
    EXPECT_EQ(Text(MainWindowLayout().title), "青笺");
}

TEST(MainWindowTable, ParentsAreContainersAndPagesExist) {
    const ControlTable table = MainWindowLayout().controls;
    std::map<Text, const ControlRow*> byName;
    for (const ControlRow& row : table) {
        byName[row.name] = &row;
    }
    const ControlRow& tab = *byName.at(control::kTabMain);
    ASSERT_EQ(tab.pages.size(), 9u);
    const char* pages[] = {"Chat GPT", "百度文心", "使用说明", "商务服务", "在线升级", "接口三设置", "文章检查", "发布设置", "模板与内链"};
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(Text(tab.pages[i]), pages[i]);
    }
    EXPECT_EQ(tab.shownPage, 1);
    std::set<int> usedPages;
    for (const ControlRow& row : table) {
        const Text parent = row.parent;
        if (parent.empty()) {
            continue;
        }
        const ControlRow* container = byName.at(parent);
        if (parent == control::kTabMain) {
            usedPages.insert(row.page);
        } else {
            EXPECT_EQ(Text(container->kind), kind::kGroup) << row.name;
            EXPECT_EQ(row.page, -1) << row.name;
        }
    }
    EXPECT_EQ(usedPages, (std::set<int>{0, 1, 3, 4, 5, 6, 7, 8}));  // page 2 holds no controls
}

TEST(MainWindow, FirstStartWithoutSettingsShowsTheDesignedState) {
    TemporaryHome home;
    StartedWindow window;
    EXPECT_EQ(window->GetText(control::kEditRunLog, kPropContent), kAbout);
    EXPECT_EQ(window->GetText(control::kLabelCurrentVersion, kPropContent), "当前版本：1.0");
    EXPECT_EQ(ProgramVersion(), "1.0");
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceOne, kPropChecked), 1);
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceTwo, kPropChecked), 0);
    EXPECT_EQ(window->GetNumber(control::kCheckPreview, kPropChecked), 0);
    EXPECT_EQ(window->GetNumber(control::kCheckSaveAsHtml, kPropChecked), 0);
    // The article checks start with their defaults: two continuations, similarity 3, the refusal
    // phrases; every other edit box is empty.
    const std::map<Text, Text> prefilled{{control::kEditChecksContinuations, "2"},
                                         {control::kEditChecksSimilarity, "3"},
                                         {control::kEditChecksRefusalPhrases, kDefaultRefusalPhrases}};
    for (const Text& edit : window->ControlsOfKind(kind::kEdit)) {
        if (edit != control::kEditRunLog) {
            const auto it = prefilled.find(edit);
            EXPECT_EQ(window->GetText(edit, kPropContent), it == prefilled.end() ? Text() : it->second) << edit;
        }
    }
    EXPECT_EQ(window->CurrentTabPage(control::kTabMain), page::kWenxin);
    EXPECT_EQ(window->GetText(control::kButtonTest, kPropCaption), "等待百度文心上线，开发中，敬请期待！");
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
    EXPECT_TRUE(window->ShownMessages().empty());
}

TEST(MainWindow, SaveWritesEveryPersistableControlButTheRunLog) {
    TemporaryHome home;
    StartedWindow window;
    HandleClick(*window, control::kButtonSaveSettings);
    EXPECT_EQ(ReadBytes(SettingsFile()), kDesignedSettingsFile);
    ASSERT_EQ(window->ShownMessages().size(), 1u);
    EXPECT_EQ(window->ShownMessages()[0].text, "保存成功！");
    EXPECT_EQ(window->ShownMessages()[0].caption, "信息：");
}

TEST(MainWindow, ChangedStateComesBackAfterARestart) {
    TemporaryHome home;
    {
        StartedWindow window;
        window->SetText(control::kEditOpenAiKey, kPropContent, "sk-\"key\"");
        window->SetText(control::kEditWenxinApiKey, kPropContent, "文心钥匙");
        window->SetText(control::kEditLatestVersion, kPropContent, "版本 2.0\r\n\r\n修复若干问题");
        window->SetNumber(control::kCheckPreview, kPropChecked, 1);
        window->SetNumber(control::kRadioInterfaceTwo, kPropChecked, 1);
        window->AppendText(control::kEditRunLog, "a line that must not be saved\r\n");
        HandleClick(*window, control::kButtonSaveSettings);
        const std::string file = ReadBytes(SettingsFile());
        EXPECT_NE(file.find("编辑框_最新版本=版本 2.0><br><><br><修复若干问题\r\n"), std::string::npos);
        EXPECT_NE(file.find("编辑框_OpenAi_API秘钥=sk-#引号key#引号\r\n"), std::string::npos);
        EXPECT_EQ(file.find("运行日志"), std::string::npos);
        EXPECT_EQ(file.find("must not"), std::string::npos);
    }
    StartedWindow restarted;
    EXPECT_EQ(restarted->GetText(control::kEditOpenAiKey, kPropContent), "sk-\"key\"");
    EXPECT_EQ(restarted->GetText(control::kEditWenxinApiKey, kPropContent), "文心钥匙");
    EXPECT_EQ(restarted->GetText(control::kEditLatestVersion, kPropContent), "版本 2.0\r\n\r\n修复若干问题");
    EXPECT_EQ(restarted->GetText(control::kEditWenxinSecretKey, kPropContent), "");
    EXPECT_EQ(restarted->GetNumber(control::kCheckPreview, kPropChecked), 1);
    EXPECT_EQ(restarted->GetNumber(control::kCheckSaveAsHtml, kPropChecked), 0);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceTwo, kPropChecked), 1);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
    EXPECT_EQ(restarted->GetText(control::kEditRunLog, kPropContent), kAbout);
}

// The settings file keeps what the user wrote, however long: ten thousand backup endpoints and a
// key far beyond the classic read buffer come back whole, and the run reads every endpoint.
TEST(MainWindow, LongSettingsComeBackWholeAfterARestart) {
    TemporaryHome home;
    Text backups;
    for (int i = 0; i < 10000; ++i) {
        backups += "- sk-key" + std::to_string(i) + "\r\n";
    }
    const Text longKey(3 * kIniReadBufferSize, 'k');
    {
        StartedWindow window;
        window->SetText(control::kEditInterfaceThreeBackups, kPropContent, backups);
        window->SetText(control::kEditOpenAiKey, kPropContent, longKey);
        HandleClick(*window, control::kButtonSaveSettings);
        ASSERT_EQ(window->ShownMessages().at(0).text, "保存成功！");
    }
    StartedWindow restarted;
    EXPECT_EQ(restarted->GetText(control::kEditInterfaceThreeBackups, kPropContent), backups);
    EXPECT_EQ(restarted->GetText(control::kEditOpenAiKey, kPropContent), longKey);
    const EndpointLines lines =
        ReadEndpointLines(restarted->GetText(control::kEditInterfaceThreeBackups, kPropContent));
    ASSERT_EQ(lines.endpoints.size(), 10000u);
    EXPECT_EQ(lines.endpoints.back().key, "sk-key9999");
}

// A 配置.ini written by hand in UTF-8 or UTF-16 is read as such (the run log says so), and the
// next save writes exactly what it writes for the same file in GBK.
TEST(MainWindow, ASettingsFileInAnotherEncodingIsReadAsSuchAndSavedAsGbk) {
    const Text gbk =
        "; 手写的配置\r\n[部署]\r\n官网=https://站点.test\r\n[编辑框]\r\n"
        "编辑框_接口三_提示词=写一篇关于{关键词}的文章><br><分段\r\n[选择框]\r\n选择框_预览生成内容=真\r\n";
    Bytes little = "\xFF\xFE", big = "\xFE\xFF";
    for (const char16_t unit : GbkToUtf16(gbk)) {
        little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    const std::pair<Bytes, const char*> files[] = {{gbk, ""},
                                                   {AnsiToUtf8(gbk), "UTF-8"},
                                                   {"\xEF\xBB\xBF" + AnsiToUtf8(gbk), "UTF-8"},
                                                   {little, "UTF-16 LE"},
                                                   {big, "UTF-16 BE"}};
    std::string savedFromGbk;
    for (const auto& [bytes, encoding] : files) {
        SCOPED_TRACE(encoding);
        TemporaryHome home;
        WriteBytes(SettingsFile(), bytes);
        LoadDeployment(ProgramPath(kSettingsFileTail));
        EXPECT_EQ(CurrentDeployment().mainSite, "https://站点.test");
        StartedWindow window;
        EXPECT_EQ(window->GetText(control::kEditInterfaceThreePrompt, kPropContent),
                  "写一篇关于{关键词}的文章\r\n分段");
        EXPECT_EQ(window->GetNumber(control::kCheckPreview, kPropChecked), 1);
        const Text log = window->GetText(control::kEditRunLog, kPropContent);
        if (*encoding) {
            EXPECT_NE(log.find("配置文件 " + ProgramPath(kSettingsFileTail) + " 是 " + encoding + " 编码"), Text::npos)
                << log;
        } else {
            EXPECT_EQ(log.find("编码"), Text::npos) << log;
        }
        HandleClick(*window, control::kButtonSaveSettings);
        const std::string saved = ReadBytes(SettingsFile());
        if (savedFromGbk.empty()) {
            savedFromGbk = saved;
            EXPECT_EQ(saved.rfind(gbk.substr(0, gbk.find("编辑框_")), 0), 0u);  // comment and deployment kept
        }
        EXPECT_EQ(saved, savedFromGbk);
    }
    ResetProcessState();
}

TEST(MainWindow, AFailedSaveSaysSoWithPathAndReason) {
    TemporaryHome home;
    StartedWindow window;
    home.PointAtUnwritableFolder();
    HandleClick(*window, control::kButtonSaveSettings);
    ASSERT_EQ(window->ShownMessages().size(), 1u);
    const MemoryWindow::ShownMessage message = window->ShownMessages()[0];
    EXPECT_EQ(message.text.rfind("保存失败！", 0), 0u) << message.text;
    EXPECT_NE(message.text.find(ProgramPath(kSettingsFileTail)), std::string::npos);
    EXPECT_NE(message.text.find("原因："), std::string::npos);
    EXPECT_EQ(message.text.find("保存成功"), std::string::npos);
    EXPECT_EQ(message.icon, MessageIcon::kError);
}

TEST(MainWindow, AFailedSaveNamesTheBoxWhoseContentCannotBeSaved) {
    TemporaryHome home;
    StartedWindow window;
    window->SetText(control::kEditInterfaceThreeSystemPrompt, kPropContent, "第一行\n第二行");
    HandleClick(*window, control::kButtonSaveSettings);
    ASSERT_EQ(window->ShownMessages().size(), 1u);
    const Text text = window->ShownMessages()[0].text;
    EXPECT_EQ(text.rfind("保存失败！\r\n\r\n控件：" + Text(control::kEditInterfaceThreeSystemPrompt), 0), 0u) << text;
    EXPECT_NE(text.find("换行"), Text::npos);
}

TEST(MainWindow, AFolderNamedLikeTheSettingsFileIsAFailedSave) {
    TemporaryHome home;
    std::filesystem::create_directory(SettingsFile());
    StartedWindow window;  // restoring from it finds nothing, and the run log says why
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceOne, kPropChecked), 1);
    EXPECT_NE(window->GetText(control::kEditRunLog, kPropContent)
                  .find("无法读取配置文件 " + ProgramPath(kSettingsFileTail) + "：Is a directory"),
              Text::npos);
    HandleClick(*window, control::kButtonSaveSettings);
    ASSERT_EQ(window->ShownMessages().size(), 1u);
    EXPECT_NE(window->ShownMessages()[0].text.find("Is a directory"), std::string::npos);
}

TEST(MainWindow, StopSetsTheFlagAndLogsWithATimeStamp) {
    TemporaryHome home;
    StartedWindow window;
    StartRunStop();  // no stop asked for yet
    SetRunLogClock([] {
        std::tm when{};
        when.tm_year = 2023 - 1900;
        when.tm_mon = 1;
        when.tm_mday = 11;
        when.tm_hour = 9;
        when.tm_min = 5;
        when.tm_sec = 7;
        return when;
    });
    HandleClick(*window, control::kButtonStop);
    SetRunLogClock(nullptr);
    EXPECT_TRUE(RunStopRequested());
    EXPECT_EQ(window->GetText(control::kEditRunLog, kPropContent),
              kAbout + "【2023年2月11日9时5分7秒】 > > >  程序将在1分钟后自动结束\r\n");
    StartRunStop();
}

TEST(MainWindow, OpenButtonsCreateWhatIsMissingThenOpenIt) {
    TemporaryHome home;
    StartedWindow window;
    HandleClick(*window, control::kButtonImportKeywords);
    HandleClick(*window, control::kButtonViewOutput);
    HandleClick(*window, control::kButtonViewFailedKeywords);
    const std::vector<Text> expected = {ProgramPath(kKeywordListTail), ProgramPath(kOutputFolderTail),
                                        ProgramPath(kFailureListTail)};
    EXPECT_EQ(window->OpenedTargets(), expected);
    EXPECT_TRUE(std::filesystem::is_regular_file(NativePath(ProgramPath(kKeywordListTail))));
    EXPECT_TRUE(std::filesystem::is_directory(NativePath(ProgramPath(kOutputFolderTail))));
    EXPECT_TRUE(std::filesystem::is_regular_file(NativePath(ProgramPath(kFailureListTail))));
    EXPECT_TRUE(window->ShownMessages().empty());
}

TEST(MainWindow, OpeningAnExistingKeywordListKeepsItsContent) {
    TemporaryHome home;
    std::filesystem::create_directories(home.Path() / "OpenAi");
    const std::filesystem::path keywords = NativePath(ProgramPath(kKeywordListTail));
    WriteBytes(keywords, "关键词一\r\n关键词二\r\n");
    StartedWindow window;
    HandleClick(*window, control::kButtonImportKeywords);
    EXPECT_EQ(ReadBytes(keywords), "关键词一\r\n关键词二\r\n");
    EXPECT_EQ(window->OpenedTargets().size(), 1u);
}

TEST(MainWindow, AnOpenButtonThatCannotCreateSaysWhy) {
    TemporaryHome home;
    WriteBytes(home.Path() / "OpenAi", "a file where the folder belongs");
    StartedWindow window;
    HandleClick(*window, control::kButtonImportKeywords);
    EXPECT_TRUE(window->OpenedTargets().empty());
    ASSERT_EQ(window->ShownMessages().size(), 1u);
    EXPECT_NE(window->ShownMessages()[0].text.find(ProgramPath("OpenAi")), std::string::npos);
}

TEST(MainWindow, ADisabledOrUnknownControlHandlesNoClick) {
    TemporaryHome home;
    StartedWindow window;
    window->SetNumber(control::kButtonSaveSettings, kPropDisabled, 1);
    HandleClick(*window, control::kButtonSaveSettings);
    HandleClick(*window, "按钮_没有");
    HandleClick(*window, control::kLabelUsage);
    EXPECT_TRUE(window->ShownMessages().empty());
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST(MainWindow, DeploymentValuesComeFromTheSettingsFile) {
    TemporaryHome home;
    WriteBytes(
        SettingsFile(),
        "[部署]\r\n接口一中转站=https://one.test:8443/\r\n接口二中转站=http://two.test\r\n官网=https://site.test\r\n");
    LoadDeployment(ProgramPath(kSettingsFileTail));
    EXPECT_EQ(CurrentDeployment().relayOne, "https://one.test:8443");
    EXPECT_EQ(CurrentDeployment().openAi, "https://api.openai.com");
    {
        StartedWindow window;
        const Text usage = window->GetText(control::kLabelUsage, kPropContent);
        EXPECT_NE(usage.find("接口一：https://one.test:8443/vip.html\r\n接口二：http://two.test\r\n"),
                  std::string::npos);
        EXPECT_EQ(usage.rfind("1、目前使用Chat GPT 生成内容", 0), 0u);
        EXPECT_EQ(window->GetText(control::kLabelBlog, kPropContent), "岚舟博客：https://site.test");
        EXPECT_NE(window->GetText(control::kEditRunLog, kPropContent).find("官网：https://site.test\r\n"),
                  std::string::npos);
        // A save leaves the deployment section as it was.
        HandleClick(*window, control::kButtonSaveSettings);
        EXPECT_EQ(ReadBytes(SettingsFile()).rfind("[部署]\r\n接口一中转站=https://one.test:8443/\r\n", 0), 0u);
    }
    std::filesystem::remove(SettingsFile());
    LoadDeployment(ProgramPath(kSettingsFileTail));
    EXPECT_EQ(CurrentDeployment().relayOne, DefaultDeployment().relayOne);
}

TEST(ProgramFolder, StartUpMakesItTheCurrentDirectory) {
    const std::filesystem::path before = std::filesystem::current_path();
    {
        testing::TemporaryHome home;
        PrepareProcess();
        EXPECT_EQ(std::filesystem::current_path(), home.Path());
        std::filesystem::current_path(before);
    }
}

TEST(ProcessState, OneCallPutsItBackAsAFreshProcessHasIt) {
    TemporaryHome home;
    MemoryWindow window(MainWindowLayout().controls);
    SetMainWindow(&window);
    RequestRunStop();
    WriteBytes(SettingsFile(), "[部署]\r\nOpenAI=https://api.test\r\n");
    LoadDeployment(ProgramPath(kSettingsFileTail));
    AdvertLinks().Append("https://a.test/");
    RowColours().Set(0, 1, 0xFF, 0, false);
    SetProgramVersion("1.0");

    ResetProcessState();
    EXPECT_EQ(MainWindow(), nullptr);
    RunLog("nowhere");
    EXPECT_EQ(window.GetText(control::kEditRunLog, kPropContent), "");
    EXPECT_FALSE(RunStopRequested());
    EXPECT_EQ(CurrentDeployment().openAi, DefaultDeployment().openAi);
    EXPECT_EQ(AdvertLinks().Size(), 0u);
    EXPECT_TRUE(RowColours().Entries().empty());
    EXPECT_EQ(ProgramVersion(), "");
}

TEST(MainWindow, ExitRoutineReleasesTheProcessState) {
    SetProgramVersion("1.0");
    int released = 0;
    AtProgramExit([&] { ++released; });
    ReleaseProcessState();
    ReleaseProcessState();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(ProgramVersion(), "");
}

}  // namespace
}  // namespace qj

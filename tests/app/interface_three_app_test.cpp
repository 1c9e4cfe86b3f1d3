#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <mutex>
#include <nlohmann/json.hpp>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "app/main_window_job.h"
#include "app/run_settings.h"
#include "app/service_queries.h"
#include "run/request_stage.h"
#include "run/job.h"
#include "services/chat_completion.h"
#include "services/chat_key_check.h"
#include "child_program.h"
#include "local_deployment.h"
#include "local_servers.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "started_window.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "app/control_names.h"
#include "window/memory_window.h"
#include "app/run_log.h"

namespace qj {
namespace {

using testing::ReadBytes;
using testing::StartedWindow;
using testing::TemporaryHome;
using testing::WriteBytes;

const ControlRow& Row(const char* name) {
    for (const ControlRow& row : MainWindowLayout().controls) {
        if (Text(row.name) == name) {
            return row;
        }
    }
    throw std::runtime_error(std::string("no row ") + name);
}

TEST(InterfaceThreeTable, TheRadioBoxJoinsTheInterfaceGroupAndThePageComesLast) {
    // One group: same container, same page as the other interface boxes.
    const ControlRow& radio = Row(control::kRadioInterfaceThree);
    EXPECT_EQ(Text(radio.parent), Text(Row(control::kRadioInterfaceOne).parent));
    EXPECT_EQ(radio.page, Row(control::kRadioInterfaceOne).page);
    EXPECT_EQ(Text(Row(control::kRadioInterfaceTwo).parent), Text(radio.parent));

    const ControlRow& tab = Row(control::kTabMain);
    ASSERT_EQ(tab.pages.size(), 9u);  // the article checks' page after it, then publishing's, then the templates'
    EXPECT_EQ(Text(tab.pages[page::kChecks]), "文章检查");
    EXPECT_EQ(Text(tab.pages[page::kPublishing]), "发布设置");
    EXPECT_EQ(Text(tab.pages[page::kTemplates]), "模板与内链");
    EXPECT_EQ(Text(tab.pages[page::kBusiness]), "商务服务");
    EXPECT_EQ(Text(tab.pages[page::kUpdate]), "在线升级");
    EXPECT_EQ(Text(tab.pages[page::kInterfaceThree]), "接口三设置");

    const std::pair<const char*, const char*> labelled[] = {
        {control::kEditInterfaceThreeBaseUrl, control::kLabelInterfaceThreeBaseUrl},
        {control::kEditInterfaceThreeModel, control::kLabelInterfaceThreeModel},
        {control::kEditInterfaceThreePrompt, control::kLabelInterfaceThreePrompt},
        {control::kEditInterfaceThreeSystemPrompt, control::kLabelInterfaceThreeSystemPrompt},
        {control::kEditInterfaceThreeTemperature, control::kLabelInterfaceThreeTemperature},
        {control::kEditInterfaceThreeProxy, control::kLabelInterfaceThreeProxy},
        {control::kEditInterfaceThreeBackups, control::kLabelInterfaceThreeBackups},
    };
    for (const auto& [edit, label] : labelled) {
        const ControlRow& box = Row(edit);
        const ControlRow& caption = Row(label);
        EXPECT_EQ(Text(box.kind), kind::kEdit) << edit;
        EXPECT_EQ(box.page, page::kInterfaceThree) << edit;
        EXPECT_EQ(Text(caption.kind), kind::kLabel) << label;
        EXPECT_EQ(caption.page, page::kInterfaceThree) << label;
        EXPECT_NE(Text(caption.caption), "") << label;
        // The label sits on the edit box's line, left of it.
        EXPECT_LT(caption.left + caption.width, box.left + 8) << label;
        EXPECT_LT(std::abs(caption.top - box.top), 4) << label;
        EXPECT_LE(box.left + box.width, tab.width) << edit;
        EXPECT_LE(box.top + box.height, tab.height) << edit;
    }
    EXPECT_TRUE(Row(control::kEditInterfaceThreePrompt).multiLine);
    EXPECT_TRUE(Row(control::kEditInterfaceThreeSystemPrompt).multiLine);
    EXPECT_FALSE(Row(control::kEditInterfaceThreeBaseUrl).multiLine);
    EXPECT_TRUE(Row(control::kEditInterfaceThreeBackups).multiLine);
    EXPECT_FALSE(Row(control::kEditInterfaceThreeProxy).multiLine);

    // No two controls of the page cover each other.
    std::vector<const ControlRow*> onPage;
    for (const ControlRow& row : MainWindowLayout().controls) {
        if (Text(row.parent) == control::kTabMain && row.page == page::kInterfaceThree) {
            onPage.push_back(&row);
        }
    }
    for (std::size_t i = 0; i < onPage.size(); ++i) {
        for (std::size_t j = i + 1; j < onPage.size(); ++j) {
            const ControlRow& a = *onPage[i];
            const ControlRow& b = *onPage[j];
            const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left || a.top + a.height <= b.top ||
                               b.top + b.height <= a.top;
            EXPECT_TRUE(apart) << a.name << " / " << b.name;
        }
    }
}

TEST(InterfaceThreeSettings, TheChoiceAndThePageComeBackAfterARestart) {
    TemporaryHome home;
    {
        StartedWindow window;
        EXPECT_EQ(window->GetNumber(control::kRadioInterfaceThree, kPropChecked), 0);
        window->SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
        EXPECT_EQ(window->GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);  // one group
        window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, "http://localhost:11434/v1");
        window->SetText(control::kEditInterfaceThreeModel, kPropContent, "qwen2.5:7b");
        window->SetText(control::kEditInterfaceThreePrompt, kPropContent,
                        "写一篇关于“{关键词}”的文章\r\n\r\n要求\"详细\"");
        window->SetText(control::kEditInterfaceThreeSystemPrompt, kPropContent, "你是一名编辑");
        window->SetText(control::kEditInterfaceThreeTemperature, kPropContent, "0.8");
        window->SetText(control::kEditInterfaceThreeBackups, kPropContent,
                        "https://api.deepseek.com/v1 sk-1 deepseek-chat\r\n# 注释\r\n- sk-2 - 直连");
        window->SetText(control::kEditInterfaceThreeProxy, kPropContent, "http://u:p@127.0.0.1:7890\r\n");
        HandleClick(*window, control::kButtonSaveSettings);
        const std::string file = ReadBytes(NativePath(ProgramPath(kSettingsFileTail)));
        EXPECT_NE(file.find("单选框_接口三=真\r\n"), std::string::npos);
        EXPECT_NE(file.find("编辑框_接口三_提示词=写一篇关于“{关键词}”的文章><br><><br><要求#引号详细#引号\r\n"),
                  std::string::npos);
    }
    StartedWindow restarted;
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceThree, kPropChecked), 1);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceTwo, kPropChecked), 0);
    const InterfaceThreeSettings settings = ReadChatSettings(WindowSettings(*restarted));
    EXPECT_EQ(settings.baseUrl, "http://localhost:11434/v1");
    EXPECT_EQ(settings.model, "qwen2.5:7b");
    EXPECT_EQ(settings.promptTemplate, "写一篇关于“{关键词}”的文章\r\n\r\n要求\"详细\"");
    EXPECT_EQ(settings.systemPrompt, "你是一名编辑");
    EXPECT_EQ(settings.temperature, "0.8");
    EXPECT_EQ(settings.backupEndpoints, "https://api.deepseek.com/v1 sk-1 deepseek-chat\r\n# 注释\r\n- sk-2 - 直连");
    EXPECT_EQ(settings.proxy, "http://u:p@127.0.0.1:7890");  // a single line keeps no line break
}

TEST(InterfaceThreeSettings, ASettingsFileFromBeforeInterfaceThreeKeepsItsChoice) {
    TemporaryHome home;
    WriteBytes(NativePath(ProgramPath(kSettingsFileTail)), "[单选框]\r\n单选框_接口二=真\r\n单选框_接口一=假\r\n");
    StartedWindow window;
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceTwo, kPropChecked), 1);
    EXPECT_EQ(window->GetNumber(control::kRadioInterfaceThree, kPropChecked), 0);
    EXPECT_EQ(window->GetText(control::kEditInterfaceThreeModel, kPropContent), "");
}

// A chat-completion server whose reply depends on the keyword in the user message.
class KeywordServer {
public:
    KeywordServer()
        : server_([this](int socket, const test::RawRequest& request) {
              const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
              std::string prompt;
              if (!body.is_discarded()) {
                  prompt = body["messages"].back()["content"].get<std::string>();
              }
              std::string reply;
              {
                  std::lock_guard lock(mutex_);
                  for (const auto& [keyword, answer] : replies_) {
                      if (prompt.find(AnsiToUtf8(keyword)) != std::string::npos) {
                          reply = answer;
                      }
                  }
              }
              test::RawServer::Send(socket, reply);
          }) {}

    void Answer(const Text& keyword, const std::string& reply) {
        std::lock_guard lock(mutex_);
        replies_[keyword] = reply;
    }
    std::string Base() const { return server_.Url("/v1"); }
    std::vector<test::RawRequest> Requests() { return server_.Requests(); }

    static std::string Stream(const Text& gbkText, int prompt, int completion) {
        std::string utf8 = AnsiToUtf8(gbkText);
        std::string escaped;
        for (const char c : utf8) {
            escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        const std::string body = "data: {\"choices\":[{\"delta\":{\"content\":\"" + escaped + "\"}}]}\n\n" +
                                 "data: {\"choices\":[],\"usage\":{\"prompt_tokens\":" + std::to_string(prompt) +
                                 ",\"completion_tokens\":" + std::to_string(completion) +
                                 ",\"total_tokens\":" + std::to_string(prompt + completion) + "}}\n\ndata: [DONE]\n\n";
        return "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }
    static std::string Error(int status, const std::string& message) {
        const std::string body = "{\"error\":{\"message\":\"" + message + "\"}}";
        return "HTTP/1.1 " + std::to_string(status) +
               " Error\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }

private:
    std::mutex mutex_;
    std::map<Text, std::string> replies_;
    test::RawServer server_;
};

std::tm FixedClock() {
    std::tm when{};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 4;
    when.tm_mday = 1;
    when.tm_hour = 8;
    return when;
}

// The messages of the run log, without their time stamps.
std::vector<Text> LoggedMessages(const MemoryWindow& window) {
    std::vector<Text> messages;
    for (const Text& line : SplitText(window.GetText(control::kEditRunLog, kPropContent), "\r\n")) {
        messages.push_back(TextRightOf(line, "> > >  "));
    }
    return messages;
}

void WriteKeywords(const Text& lines) {
    std::filesystem::create_directories(NativePath(ProgramPath("OpenAi")));
    WriteBytes(NativePath(ProgramPath(kKeywordListTail)), lines);
}

TEST(InterfaceThreeJob, KeywordsBecomeFilesWithTokensCountedPerKeywordAndSummed) {
    TemporaryHome home;
    KeywordServer server;
    server.Answer("苹果", KeywordServer::Stream("苹果的第一段\n\n苹果的第二段\n", 10, 20));
    server.Answer("香蕉", KeywordServer::Stream("香蕉", 1, 2));
    server.Answer("坏词", KeywordServer::Error(500, "boom"));
    WriteKeywords("苹果\r\n香蕉\r\n坏词\r\n");

    StartedWindow window;
    window->SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    window->SetText(control::kEditOpenAiKey, kPropContent, "sk-job");
    window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Base());
    window->SetText(control::kEditInterfaceThreeModel, kPropContent, "local-model");
    window->SetText(control::kEditInterfaceThreePrompt, kPropContent, "请写：{关键词}");
    window->SetText(control::kEditInterfaceThreeSystemPrompt, kPropContent, "你是编辑");
    window->SetText(control::kEditInterfaceThreeTemperature, kPropContent, "0.5");
    window->SetText(control::kEditRunLog, kPropContent, "");
    SetRunLogClock(FixedClock);
    const JobSummary summary = RunOnWindow(*window);
    SetRunLogClock(nullptr);

    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.keywordsWithTokens, 2);
    EXPECT_EQ(summary.tokens.totalTokens, 33);
    const std::vector<Text> expected = {
        "开始生成关键词【苹果】相关内容",
        "Chat GPT 思考中，请耐心等待.....",
        "关键词【苹果】内容生成成功，已保存到本地目录中！",
        "关键词【苹果】消耗Token：输入10，输出20，合计30",
        "开始生成关键词【香蕉】相关内容",
        "Chat GPT 思考中，请耐心等待.....",
        "关键词【香蕉】内容生成成功，已保存到本地目录中！",
        "关键词【香蕉】消耗Token：输入1，输出2，合计3",
        "开始生成关键词【坏词】相关内容",
        "Chat GPT 思考中，请耐心等待.....",
        "关键词【坏词】内容生成失败！",
        "错误信息：boom（HTTP 500）",
        "端点1：文章2篇，失败1次，429回答0次",
        "本次任务共消耗Token：输入11，输出22，合计33（2个关键词）",
        "任务完成！",
    };
    EXPECT_EQ(LoggedMessages(*window), expected);
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(Text(kOutputFolderTail) + "苹果.txt"))),
              "苹果的第一段\r\n\r\n苹果的第二段");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(Text(kOutputFolderTail) + "香蕉.txt"))), "香蕉");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(kFailureListTail))), "坏词\r\n");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(kKeywordListTail))), "");

    const std::vector<test::RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const nlohmann::json body = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(body["model"], "local-model");
    EXPECT_EQ(body["temperature"], 0.5);
    EXPECT_EQ(body["messages"][0]["content"], AnsiToUtf8("你是编辑"));
    EXPECT_EQ(body["messages"][1]["content"], AnsiToUtf8("请写：苹果"));
    const std::vector<std::string> lines = requests[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-job"), lines.end());
}

TEST(InterfaceThreeJob, SettingsThatCannotWorkEndTheRunAndKeepTheKeywords) {
    TemporaryHome home;
    KeywordServer server;
    WriteKeywords("苹果\r\n香蕉\r\n");
    StartedWindow window;
    window->SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Base());
    window->SetText(control::kEditInterfaceThreeTemperature, kPropContent, "高");
    window->SetText(control::kEditRunLog, kPropContent, "");
    const JobSummary summary = RunOnWindow(*window);

    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(summary.returned, 1);
    const std::vector<Text> expected = {
        "开始生成关键词【苹果】相关内容",
        "Chat GPT 思考中，请耐心等待.....",
        "错误信息：接口三设置有误：温度必须是数字（例如 0.7），现在是：高",
        "关键词【苹果】已放回待采集关键词列表",
        "任务完成！",
    };
    EXPECT_EQ(LoggedMessages(*window), expected);
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(kKeywordListTail))), "苹果\r\n香蕉\r\n");
    EXPECT_FALSE(std::filesystem::exists(NativePath(ProgramPath(kFailureListTail))));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(window->GetNumber(control::kButtonStart, kPropDisabled), 0);
}

// The euro sign is the single byte 0x80 of the program's code page, never the first half of a
// character: the list line ends before its CR LF, and a slash behind it is still replaced in the
// file name, so the article is saved.
TEST(InterfaceThreeJob, KeywordsWithTheEuroSignByteAreReadSentAndSaved) {
    TemporaryHome home;
    KeywordServer server;
    const Text euroSlash = "欧元\x80/美元";
    const Text hundred = "100\x80";
    server.Answer(euroSlash, KeywordServer::Stream("汇率", 1, 1));
    server.Answer(hundred, KeywordServer::Stream("一百欧元", 1, 1));
    WriteKeywords(euroSlash + "\r\n" + hundred + "\r\n");
    StartedWindow window;
    window->SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Base());
    window->SetText(control::kEditInterfaceThreePrompt, kPropContent, "请写：{关键词}");
    const JobSummary summary = RunOnWindow(*window);
    EXPECT_EQ(summary.succeeded, 2);
    const std::vector<test::RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(requests[0].body)["messages"][0]["content"],
              AnsiToUtf8("请写：") + "\xE6\xAC\xA7\xE5\x85\x83\xE2\x82\xAC/\xE7\xBE\x8E\xE5\x85\x83");
    EXPECT_EQ(nlohmann::json::parse(requests[1].body)["messages"][0]["content"],
              AnsiToUtf8("请写：") + "100\xE2\x82\xAC");
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(NativePath(ProgramPath(kOutputFolderTail)))) {
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
        files.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(std::find(files.begin(), files.end(), "100\xE2\x82\xAC.txt"), files.end());
}

// A key with a line break in it (pasted with its line feed) cannot go into an Authorization line.
// On every interface the run says so, keeps the keyword and sends nothing, instead of sending
// requests without the key that fail as unauthorised.
// The key boxes never hold a line break, but a key that reaches an interface with one (from
// elsewhere than the window) must not lose its Authorization line without a word.
TEST(InterfaceJob, AKeyWithALineBreakIsRefusedWithAReasonAndSendsNothing) {
    TemporaryHome home;
    KeywordServer server;
    const std::string origin = server.Base().substr(0, server.Base().size() - 3);  // without "/v1"
    testing::LocalDeployment deployment({.openAi = origin});
    const char* interfaces[] = {control::kRadioInterfaceOne, control::kRadioInterfaceTwo,
                                control::kRadioInterfaceThree};
    for (const char* radio : interfaces) {
        for (const Text key : {"sk-ab\ncd", "sk-ab\r\ncd"}) {
            SCOPED_TRACE(Text(radio) + " " + ::testing::PrintToString(key));
            StartedWindow window;
            window->SetNumber(radio, kPropChecked, 1);
            window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Base());
            RunInputs inputs = ReadRunInputs(WindowSettings(*window), CurrentDeployment(), ProgramFolder(), RunSwitches());
            inputs.request.key = key;  // as no single-line box would keep it
            const GenerationOutcome outcome = RequestStage(inputs.request, {}).Ask("苹果", StopToken());
            EXPECT_TRUE(outcome.unusableSettings);
            EXPECT_TRUE(outcome.errorDetail.starts_with("API秘钥中含有换行符")) << outcome.errorDetail;
            EXPECT_NE(outcome.errorDetail.find("Authorization"), Text::npos);
        }
    }
    EXPECT_TRUE(server.Requests().empty());
}

TEST(InterfaceThreeKeyCheck, ReadsTheAddressAndTheKeyFromTheWindow) {
    TemporaryHome home;
    test::RawServer server([](int socket, const test::RawRequest&) {
        const std::string body = "{\"data\":[{\"id\":\"m\"}]}";
        test::RawServer::Send(socket,
                              "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    StartedWindow window;
    window->SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Url("/api/v1/"));
    window->SetText(control::kEditOpenAiKey, kPropContent, "sk-window");
    window->SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    const Result<Text> result = CreditQuery(CreditQueryInputsFrom(*window, CurrentDeployment()));
    EXPECT_TRUE(result) << result.error().reason;
    EXPECT_EQ(result, KeyCheckCaption({.modelCount = 1}));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].RequestLine(), "GET /api/v1/models HTTP/1.1");
    const std::vector<std::string> lines = server.Requests()[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-window"), lines.end());
}

// `qingjian --batch` with 配置.ini choosing interface three.
TEST(InterfaceThreeBatch, TheWindowlessModeFollowsTheChosenInterface) {
    TemporaryHome home;
    KeywordServer server;
    server.Answer("甲", KeywordServer::Stream("甲的文章", 3, 4));
    server.Answer("乙", KeywordServer::Stream("乙的文章", 5, 6));
    WriteKeywords("甲\r\n乙\r\n");
    WriteBytes(NativePath(ProgramPath(kSettingsFileTail)),
               "[编辑框]\r\n编辑框_OpenAi_API秘钥=sk-batch\r\n编辑框_接口三_API地址=" + server.Base() +
                   "\r\n编辑框_接口三_模型=batch-model\r\n[单选框]\r\n单选框_接口二=假\r\n单选框_接口一=假\r\n"
                   "单选框_接口三=真\r\n");

    const std::filesystem::path outputFile = home.Path().parent_path() / "stdout.txt";
    testing::ChildProgram program(testing::BuiltProgram(QJ_QINGJIAN_EXE, QJ_PROGRAM_FROM_TESTS), {"--batch"},
                                  outputFile);
    const int exitCode = program.Wait();
    const std::string output = ReadBytes(outputFile) + ReadBytes(std::filesystem::path(outputFile).concat(".err"));
    EXPECT_EQ(exitCode, 0) << output;

    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(Text(kOutputFolderTail) + "甲.txt"))), "甲的文章");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(Text(kOutputFolderTail) + "乙.txt"))), "乙的文章");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(kKeywordListTail))), "");
    const Text log = Utf8ToAnsi(output);
    EXPECT_NE(log.find("本次任务共消耗Token：输入8，输出10，合计18（2个关键词）\n"), Text::npos) << output;
    EXPECT_NE(log.find("任务完成！\n"), Text::npos) << output;
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(server.Requests()[0].body)["model"], "batch-model");
}


// Cost through `qingjian --batch`: the estimate opens the run, the tokens the service counted are
// priced by the user's 价格.txt (never rewritten), and the cap ends the run with the keywords left
// in the list and exit code 4.
TEST(InterfaceThreeBatch, TheCapEndsTheRunAndTheCostAgreesWithTheServicesCounts) {
    TemporaryHome home;
    KeywordServer server;
    const std::map<Text, std::pair<int, int>> usage = {
        {"甲", {100000, 200000}}, {"乙", {50000, 150000}}, {"丙", {120000, 80000}},
        {"丁", {10, 20}},         {"戊", {30, 40}}};
    for (const auto& [keyword, counts] : usage) {
        server.Answer(keyword, KeywordServer::Stream(keyword + "的文章", counts.first, counts.second));
    }
    WriteKeywords("甲\r\n乙\r\n丙\r\n丁\r\n戊\r\n");
    const Bytes prices = "# 自己的价格\r\ncost-model*  1  2  元  0.5\r\n";
    WriteBytes(NativePath(ProgramPath("价格.txt")), prices);
    WriteBytes(NativePath(ProgramPath(kSettingsFileTail)),
               "[编辑框]\r\n编辑框_OpenAi_API秘钥=sk-batch\r\n编辑框_接口三_API地址=" + server.Base() +
                   "\r\n编辑框_接口三_模型=cost-model-1\r\n编辑框_费用上限=1\r\n[单选框]\r\n单选框_接口二=假\r\n"
                   "单选框_接口一=假\r\n单选框_接口三=真\r\n");

    const std::filesystem::path outputFile = home.Path().parent_path() / "stdout.txt";
    testing::ChildProgram program(testing::BuiltProgram(QJ_QINGJIAN_EXE, QJ_PROGRAM_FROM_TESTS), {"--batch"},
                                  outputFile);
    const int exitCode = program.Wait();
    const std::string output = ReadBytes(outputFile) + ReadBytes(std::filesystem::path(outputFile).concat(".err"));
    const Text log = Utf8ToAnsi(output);
    EXPECT_EQ(exitCode, 4) << output;

    // What the service was asked and counted, priced at 1 元 in and 2 元 out per million tokens.
    long long input = 0;
    long long output_ = 0;
    std::set<Text> asked;
    for (const test::RawRequest& request : server.Requests()) {
        const nlohmann::json body = nlohmann::json::parse(request.body);
        EXPECT_EQ(body["stream_options"]["include_usage"], true);
        const Text prompt = Utf8ToAnsi(body["messages"].back()["content"].get<std::string>());
        for (const auto& [keyword, counts] : usage) {
            if (prompt.find(keyword) != Text::npos && asked.insert(keyword).second) {
                input += counts.first;
                output_ += counts.second;
            }
        }
    }
    // 甲 costs 0.5 元, 乙 0.35: the cap of 1 元 is reached with 丙 (0.28), and no keyword after it is taken.
    EXPECT_EQ(asked, (std::set<Text>{"甲", "乙", "丙"})) << output;
    char money[32];
    std::snprintf(money, sizeof money, "%.4f", (static_cast<double>(input) * 1 + static_cast<double>(output_) * 2) / 1e6);
    EXPECT_NE(log.find("本次任务用量：输入Token " + std::to_string(input) + "，输出Token " + std::to_string(output_) +
                       "，费用 " + money + " 元\n"),
              Text::npos)
        << output;
    EXPECT_NE(log.find("预计用量：关键词5个"), Text::npos) << output;
    EXPECT_NE(log.find("已达到费用上限"), Text::npos) << output;
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(kKeywordListTail))), "丁\r\n戊\r\n");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath(Text(kOutputFolderTail) + "丙.txt"))), "丙的文章");
    EXPECT_EQ(ReadBytes(NativePath(ProgramPath("价格.txt"))), prices);
}

}  // namespace
}  // namespace qj

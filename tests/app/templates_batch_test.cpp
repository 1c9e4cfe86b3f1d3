// Interface three's templates as a user runs them in the window-less mode: a keyword list with
// columns, the title and outline steps, internal links; the prompts as a local service received them.

#include <gtest/gtest.h>

#include <atomic>
#include <regex>

#include "app/control_names.h"
#include "child_program.h"
#include "job_test_support.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "recording_chat_service.h"
#include "run/job.h"
#include "run/keyword_queue.h"
#include "settings/ini_file.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "window/window_model.h"

namespace qj {
namespace {

class Program : public testing::ChildProgram {
public:
    explicit Program(const std::filesystem::path& outputFile)
        : ChildProgram(testing::BuiltProgram(QJ_PROGRAM, QJ_PROGRAM_FROM_TESTS), {"--batch"}, outputFile) {}
};

// How many article requests from now on are answered by a refusal.
std::atomic<int> g_refusals{0};

// Title and outline answers are told apart by the words of their prompts (a prompt that says 不要
// gets nothing); an article names four of the site's pages, one of them twice. UTF-8.
std::string Answer(const std::string& user) {
    const auto has = [&](const char* words) { return user.find(AnsiToUtf8(words)) != std::string::npos; };
    if (has("不要")) {
        return "";
    }
    if (has("写一个标题")) {
        const std::string keyword = user.substr(user.find(AnsiToUtf8("为")) + 3);
        return AnsiToUtf8("标题：《") + keyword.substr(0, keyword.find(AnsiToUtf8("写一个"))) + AnsiToUtf8("与睡眠》");
    }
    if (has("写大纲")) {
        return AnsiToUtf8("一、开头\n二、结尾");
    }
    if (g_refusals.fetch_sub(1) > 0) {
        return AnsiToUtf8("作为一个人工智能语言模型，我无法写这篇文章。");
    }
    return AnsiToUtf8("泡脚对睡眠好。\n北京烤鸭很好吃，北京烤鸭也很香。\n足浴也行。");
}

class TemplatesBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        const Text ini = ProgramPath(kSettingsFileTail);
        const std::string base = service_.Base();
        for (const auto& [section, name, value] : {
                 std::tuple{kind::kRadio, control::kRadioInterfaceOne, "假"},
                 std::tuple{kind::kRadio, control::kRadioInterfaceThree, "真"},
                 std::tuple{kind::kEdit, control::kEditInterfaceThreeBaseUrl, base.c_str()},
                 std::tuple{kind::kEdit, control::kEditOpenAiKey, "sk-t"},
                 std::tuple{kind::kEdit, control::kEditInterfaceThreeTitlePrompt, "为{关键词}写一个标题，分类{分类}"},
                 std::tuple{kind::kEdit, control::kEditInterfaceThreeOutlinePrompt, "为标题{标题}写大纲"},
                 std::tuple{kind::kEdit, control::kEditInterfaceThreePrompt, "按大纲{大纲}写文章：{关键词}，要求{要求}"},
             }) {
            ASSERT_TRUE(WriteIniValue(ini, section, name, value));
        }
    }

    void Set(const char* section, const char* name, const Text& value) {
        ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), section, name, value));
    }
    std::string Log() const { return testing::ReadBytes(Output()); }
    std::filesystem::path Output() const { return home_.Path() / "stdout.txt"; }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }
    static std::size_t Count(const Text& text, const Text& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != Text::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }

    testing::TemporaryHome home_;
    testing::RecordingChatService service_{Answer};
    JobPaths paths_ = JobPathsIn(ProgramFolder());
    const Text header_ = "#列：关键词\t分类\t要求\r\n";
};

// Title, outline and article one after another per keyword, the columns and the earlier steps'
// results in the prompts; the HTML article opens with the title and links the first occurrence of
// at most two anchors, none in the heading, none to the article's own keyword, one link per page.
TEST_F(TemplatesBatchTest, StepsFillTheirTemplatesAndTheArticleGetsItsTitleAndLinks) {
    Set(kind::kCheck, control::kCheckSaveAsHtml, "真");
    Set(kind::kEdit, control::kEditInternalLinks, "内链.txt");
    Set(kind::kEdit, control::kEditInternalLinksPerArticle, "2");
    ASSERT_TRUE(WriteFileInOneStep(ProgramPath("内链.txt"),
                                   "北京烤鸭 /p/duck\r\n睡眠 /p/sleep\r\n泡脚 /p/foot\r\n足浴 /p/bath\r\n"));
    ASSERT_TRUE(WriteFileInOneStep(paths_.keywordList, header_ + "泡脚\t养生\t五百字\r\n北京烤鸭\t美食\r\n"));

    EXPECT_EQ(Program(Output()).Wait(), 0) << Log();

    const std::vector<testing::RecordingChatService::Prompt> prompts = service_.Prompts();
    ASSERT_EQ(prompts.size(), 6u) << Log();
    const auto user = [&](std::size_t i) { return Utf8ToAnsi(prompts[i].user); };
    EXPECT_EQ(user(0), "为泡脚写一个标题，分类养生");
    EXPECT_EQ(user(1).substr(0, Text("为标题泡脚与睡眠写大纲").size()), "为标题泡脚与睡眠写大纲");
    EXPECT_EQ(user(2).substr(0, Text("按大纲一、开头\n二、结尾写文章：泡脚，要求五百字").size()),
              "按大纲一、开头\n二、结尾写文章：泡脚，要求五百字");
    EXPECT_NE(user(2).find("泡脚与睡眠"), Text::npos) << user(2);  // the title reaches the article too
    EXPECT_EQ(user(3), "为北京烤鸭写一个标题，分类美食");
    EXPECT_NE(user(5).find("写文章：北京烤鸭，要求"), Text::npos) << user(5);  // a column the line lacks is empty

    const Text foot = Read(paths_.outputFolder + "泡脚.txt");
    EXPECT_EQ(foot.substr(0, foot.find("\r\n")), "<h1>泡脚与睡眠</h1>") << foot;
    EXPECT_EQ(Count(foot, "<a "), 2u) << foot;
    EXPECT_EQ(Count(foot, "<a href=\"/p/sleep\">睡眠</a>"), 1u) << foot;
    EXPECT_EQ(Count(foot, "<a href=\"/p/duck\">北京烤鸭</a>"), 1u) << foot;
    EXPECT_EQ(Count(foot, "/p/foot"), 0u) << foot;

    const Text duck = Read(paths_.outputFolder + "北京烤鸭.txt");
    EXPECT_EQ(duck.substr(0, duck.find("\r\n")), "<h1>北京烤鸭与睡眠</h1>") << duck;
    EXPECT_EQ(Count(duck, "/p/duck"), 0u) << duck;
    EXPECT_EQ(Count(duck, "<a href=\"/p/foot\">泡脚</a>"), 1u) << duck;
    EXPECT_EQ(Count(duck, "<a href=\"/p/sleep\">睡眠</a>"), 1u) << duck;

    // The names of the columns stay for the next run; the log names keywords by their first field.
    EXPECT_EQ(Read(paths_.keywordList), header_);
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_NE(Log().find(AnsiToUtf8("关键词【北京烤鸭】内容生成成功")), std::string::npos) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8("关键词【泡脚】的标题：泡脚与睡眠")), std::string::npos) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8("本次任务：已完成 2，失败 0，跳过 0，剩余 0，")), std::string::npos) << Log();
}

// Links from a sitemap served over HTTP, listed under 相关阅读 in the plain form; a kill during the
// steps loses nothing; a step that writes nothing fails its keyword, whose whole line is recorded.
TEST_F(TemplatesBatchTest, SitemapLinksAKillDuringTheStepsAndAFailingStep) {
    service_.Serve("/sitemap.xml",
                   "<urlset><url><loc>" + service_.Url("/p/duck") + "</loc></url><url><loc>" +
                       service_.Url("/p/sleep") + "</loc></url></urlset>",
                   "application/xml");
    service_.Serve("/p/duck", AnsiToUtf8("<html><head><title>北京烤鸭</title></head></html>"));
    service_.Serve("/p/sleep", AnsiToUtf8("<html><head><title>睡眠</title></head></html>"));
    Set(kind::kEdit, control::kEditInternalLinks, service_.Url("/sitemap.xml"));
    ASSERT_TRUE(WriteFileInOneStep(paths_.keywordList, header_ + "泡脚\t养生\t五百字\r\n"));

    service_.Hold(AnsiToUtf8("写大纲"));
    {
        Program program(Output());
        ASSERT_TRUE(service_.WaitUntilHeld(1)) << Log();
        program.Kill();
        program.Wait();
    }
    service_.Release();
    EXPECT_EQ(RecoverInterruptedKeywords(ProgramFolder()), 2);
    EXPECT_EQ(Read(paths_.keywordList), header_ + "泡脚\t养生\t五百字\r\n");

    EXPECT_EQ(Program(Output()).Wait(), 0) << Log();
    const Text article = Read(paths_.outputFolder + "泡脚.txt");
    EXPECT_EQ(article.substr(0, article.find("\r\n")), "泡脚与睡眠") << article;
    const std::string sleepUrl = service_.Url("/p/sleep");
    const std::string duckUrl = service_.Url("/p/duck");
    EXPECT_NE(article.find("\r\n\r\n相关阅读：\r\n睡眠：" + sleepUrl + "\r\n北京烤鸭：" + duckUrl), Text::npos) << article;
    EXPECT_EQ(Count(article, "<a "), 0u);

    ASSERT_TRUE(WriteFileInOneStep(paths_.keywordList, "北京烤鸭\t美食\r\n"));
    Set(kind::kEdit, control::kEditInterfaceThreeOutlinePrompt, "");
    Set(kind::kEdit, control::kEditInterfaceThreeTitlePrompt, "{关键词}一个标题都不要");
    Set(kind::kEdit, control::kEditInterfaceThreePrompt, "写{关键词}");
    EXPECT_EQ(Program(Output()).Wait(), 1) << Log();
    EXPECT_EQ(Read(paths_.failureList), "北京烤鸭\t美食\r\n");
    EXPECT_FALSE(std::filesystem::exists(NativePath(paths_.outputFolder + "北京烤鸭.txt")));
    EXPECT_NE(Log().find(AnsiToUtf8("错误信息：标题步骤：")), std::string::npos) << Log();

    // Templates that cannot work end the run before any request; the list stays as it was.
    ASSERT_TRUE(WriteFileInOneStep(paths_.keywordList, header_ + "泡脚\t养生\r\n"));
    Set(kind::kEdit, control::kEditInterfaceThreePrompt, "按大纲{大纲}写{关键词}");
    const std::size_t asked = service_.Prompts().size();
    EXPECT_EQ(Program(Output()).Wait(), 3) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8("错误信息：接口三设置有误：提示词用了{大纲}")), std::string::npos) << Log();
    EXPECT_EQ(Read(paths_.keywordList), header_ + "泡脚\t养生\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(service_.Prompts().size(), asked);
}

// The article step's reply goes through the article checks with its filled prompt: a refusal is
// asked for again with the same prompt (title and columns in it), a banned word is replaced in the
// article that goes under the title, and the run report counts every request of the keyword.
TEST_F(TemplatesBatchTest, TheArticleStepsReplyIsCheckedAndAskedForAgainWithItsFilledPrompt) {
    g_refusals = 1;
    Set(kind::kEdit, control::kEditInterfaceThreeOutlinePrompt, "");
    Set(kind::kEdit, control::kEditInterfaceThreePrompt, "为{标题}写文章：{关键词}，要求{要求}");
    Set(kind::kEdit, control::kEditChecksBannedWords, "违禁词.txt");
    ASSERT_TRUE(WriteFileInOneStep(ProgramPath("违禁词.txt"), "很香=很鲜\r\n"));
    ASSERT_TRUE(WriteFileInOneStep(paths_.keywordList, header_ + "泡脚\t养生\t五百字\r\n"));

    EXPECT_EQ(Program(Output()).Wait(), 0) << Log();

    const std::vector<testing::RecordingChatService::Prompt> prompts = service_.Prompts();
    ASSERT_EQ(prompts.size(), 3u) << Log();
    EXPECT_EQ(Utf8ToAnsi(prompts[1].user), "为泡脚与睡眠写文章：泡脚，要求五百字");
    EXPECT_EQ(prompts[2].user, prompts[1].user);
    EXPECT_NE(Log().find(AnsiToUtf8("关键词【泡脚】未通过检查：模型拒绝写作，重新请求")), std::string::npos) << Log();

    const Text article = Read(paths_.outputFolder + "泡脚.txt");
    EXPECT_EQ(article.substr(0, article.find("\r\n")), "泡脚与睡眠") << article;
    EXPECT_NE(article.find("北京烤鸭也很鲜"), Text::npos) << article;
    EXPECT_EQ(article.find("很香"), Text::npos) << article;
    EXPECT_EQ(article.find("人工智能"), Text::npos) << article;

    std::string report;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(ProgramPath("OpenAi/运行报告")))) {
        report += testing::ReadBytes(entry.path());
    }
    EXPECT_NE(report.find(AnsiToUtf8(",泡脚,已写入,,端点1,3,")), std::string::npos) << report;
}

}  // namespace
}  // namespace qj

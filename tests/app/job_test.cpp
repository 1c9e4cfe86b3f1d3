// The generation job on an in-memory window against a local completion service.

#include "run/job.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "job_fixture.h"
#include "run/output_files.h"
#include "job_test_support.h"
#include "local_servers.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {
namespace {

using testing::InterfaceOneReply;
using testing::InterfaceTwoReply;

class GenerationJobTest : public testing::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        deployment_ = service_.Deploy();
        SetRunLogClock(testing::FixedRunLogTime);
        window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-test");
    }

    void AnswerWith(int status, const std::string& body) {
        service_.SetAnswer([status, body](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, "application/json");
        });
    }

    testing::LocalCompletionService service_;
};

using testing::Utf8Lines;

TEST_F(GenerationJobTest, InterfaceOneWritesOneFilePerKeywordWithPreview) {
    WriteList("泡脚\r\n槟榔\r\n");
    window_.SetNumber(control::kCheckPreview, kPropChecked, 1);
    service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        const auto prompt = nlohmann::json::parse(request.body)["prompt"].get<std::string>();
        response.set_content(InterfaceOneReply(prompt + "\\n\\n" + AnsiToUtf8("好处很多。")), "application/json");
    });

    const JobSummary summary = Run();

    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(Messages(), (TextList{"开始生成关键词【泡脚】相关内容", "Chat GPT 思考中，请耐心等待.....", "泡脚",
                                    "好处很多。", "关键词【泡脚】内容生成成功，已保存到本地目录中！",
                                    "开始生成关键词【槟榔】相关内容", "Chat GPT 思考中，请耐心等待.....", "槟榔",
                                    "好处很多。", "关键词【槟榔】内容生成成功，已保存到本地目录中！", "任务完成！"}));
    EXPECT_EQ(Read(paths_.outputFolder + "泡脚.txt"), "泡脚\r\n好处很多。");
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(Read(paths_.failureList), "<missing>");
    EXPECT_EQ(window_.GetNumber(control::kButtonStart, kPropDisabled), 0);

    // What reached the service: the keyword in the body, the key in the header block.
    const auto seen = service_.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path, "/v1/completions");
    const auto body = nlohmann::json::parse(seen[0].body);
    EXPECT_EQ(body["prompt"], AnsiToUtf8("泡脚"));
    EXPECT_EQ(body["max_tokens"], 2038);
    auto header = [&](const char* name) {
        auto it = seen[0].headers.find(name);
        return it == seen[0].headers.end() ? std::string("<none>") : it->second;
    };
    EXPECT_EQ(header("Authorization"), "Bearer sk-test");
    EXPECT_EQ(header("Content-Length"), std::to_string(seen[0].body.size()));
    EXPECT_EQ(header("Referer"), "https://relay-one.example/vip.html");
    EXPECT_EQ(header("Accept-Language"), "zh-cn");
}

TEST_F(GenerationJobTest, InterfaceTwoJoinsTheStreamAndSavesParagraphs) {
    WriteList("槟榔\r\n");
    window_.SetNumber(control::kRadioInterfaceTwo, kPropChecked, 1);
    window_.SetNumber(control::kCheckSaveAsHtml, kPropChecked, 1);
    AnswerWith(200, InterfaceTwoReply({AnsiToUtf8("槟榔"), "\\n\\n", "\\u7b2c\\u4e00", "\\n\\n", AnsiToUtf8("第二")}));

    EXPECT_EQ(Run().succeeded, 1);
    EXPECT_EQ(Read(paths_.outputFolder + "槟榔.txt"), "<p>槟榔</p>\r\n<p>第一</p>\r\n<p>第二</p>\r\n");
    const auto seen = service_.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/v1/engines/text-davinci-003-playground/completions");
    EXPECT_EQ(nlohmann::json::parse(seen[0].body)["stream"], true);
    EXPECT_EQ(seen[0].headers.find("Content-Length")->second, std::to_string(seen[0].body.size()));
}

TEST_F(GenerationJobTest, FailuresAreListedAndLoggedAndTheRunGoesOn) {
    WriteList("错误\r\n空白\r\n无文本\r\n零字节\r\n成功\r\n");
    service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        const std::string keyword = Utf8ToAnsi(nlohmann::json::parse(request.body)["prompt"].get<std::string>());
        if (keyword == "错误") {
            response.status = 401;
            response.set_content(R"({"error":{"message":"Incorrect API key"}})", "application/json");
        } else if (keyword == "空白") {
            response.set_content("", "application/json");
        } else if (keyword == "无文本") {
            response.set_content(R"({"choices":[]})", "application/json");
        } else if (keyword == "零字节") {
            response.set_content(std::string(R"({"choices":[{"text":"ab)") + '\0' + R"(cd"}]})", "application/json");
        } else {
            response.set_content(InterfaceOneReply("ok"), "application/json");
        }
    });

    const JobSummary summary = Run();

    EXPECT_EQ(summary.failed, 4);
    EXPECT_EQ(summary.succeeded, 1);
    EXPECT_EQ(Read(paths_.failureList), "错误\r\n空白\r\n无文本\r\n零字节\r\n");
    const TextList m = Messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[2], "关键词【错误】内容生成失败！");
    EXPECT_EQ(m[3], "错误信息：{\"error\":{\"message\":\"Incorrect API key\"}}");
    // An exchange without bytes logs no error line.
    EXPECT_EQ(m[4], "开始生成关键词【空白】相关内容");
    EXPECT_EQ(m[6], "关键词【空白】内容生成失败！");
    EXPECT_EQ(m[7], "开始生成关键词【无文本】相关内容");
    // A success without text is a failure too, never a silent loss; a zero byte ends the reply.
    EXPECT_EQ(m[9], "关键词【无文本】内容生成失败！");
    EXPECT_EQ(m[10], "错误信息：{\"choices\":[]}");
    EXPECT_EQ(m[13], "关键词【零字节】内容生成失败！");
    EXPECT_EQ(m[14], "错误信息：{\"choices\":[{\"text\":\"ab");
    EXPECT_EQ(m.back(), "任务完成！");
    EXPECT_EQ(Read(paths_.outputFolder + "成功.txt"), "ok");
    EXPECT_EQ(Read(paths_.journal), "");
}

TEST_F(GenerationJobTest, NoServiceAtAllFailsEveryKeywordQuietly) {
    const test::RefusingPort refusing;
    ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), kDeploymentSection, "OpenAI", refusing.Url()));
    deployment_ = ReadDeployment(ProgramPath(kSettingsFileTail));
    WriteList("甲\r\n");
    EXPECT_EQ(Run().failed, 1);
    EXPECT_EQ(Messages(), (TextList{"开始生成关键词【甲】相关内容", "Chat GPT 思考中，请耐心等待.....",
                                    "关键词【甲】内容生成失败！", "任务完成！"}));
}

TEST_F(GenerationJobTest, AwkwardKeywordsAreSentAsValidJsonAndSavedInsideTheFolder) {
    const Text quoted = "他说\"好\"\\ 誠";
    WriteList(quoted + "\r\n../../逃出\r\n   \r\n");
    service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        const auto prompt = nlohmann::json::parse(request.body)["prompt"].get<std::string>();  // throws if invalid
        response.set_content(
            InterfaceOneReply(nlohmann::json(prompt).dump().substr(1, nlohmann::json(prompt).dump().size() - 2)),
            "application/json");
    });
    EXPECT_EQ(Run().succeeded, 2);
    const auto seen = service_.Seen();
    ASSERT_EQ(seen.size(), 2u);  // a line of blanks is an empty line: it ends the list, unasked
    EXPECT_EQ(nlohmann::json::parse(seen[0].body)["prompt"], AnsiToUtf8(quoted));
    EXPECT_TRUE(OutputFileName(quoted).starts_with("他说_好__ 誠~"));
    EXPECT_EQ(Read(paths_.outputFolder + OutputFileName(quoted)), quoted);
    EXPECT_TRUE(OutputFileName("../../逃出").starts_with(".._.._逃出~"));
    EXPECT_EQ(Read(paths_.outputFolder + OutputFileName("../../逃出")), "../../逃出");
    EXPECT_EQ(Read(ProgramPath("逃出.txt")), "<missing>");
}

// An outcome that cannot be recorded is asked for once: the keyword goes back to the front of the
// list, the log names the file and the reason, and the run takes no further keyword.
TEST_F(GenerationJobTest, AnOutcomeThatCannotBeRecordedPutsTheKeywordBackAndEndsTheRun) {
    namespace fs = std::filesystem;
    const struct {
        const char* what;
        Text blocked;  // a folder stands where this file should be written
        int status;
        Text loggedPath;
        std::size_t requests;
        RunEnd end;
    } cases[] = {
        {"failure list", paths_.failureList, 500, paths_.failureList, 1, RunEnd::kEndedEarly},
        {"output folder", ProgramPath("OpenAi/生成内容/甲.txt"), 200, paths_.outputFolder + "甲.txt", 1,
         RunEnd::kEndedEarly},
        // Without a journal nothing can be taken safely: the run does not start.
        {"journal", paths_.journal, 200, paths_.journal, 0, RunEnd::kNotStarted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteList("甲\r\n乙\r\n");
        fs::remove(NativePath(c.blocked));
        fs::create_directories(NativePath(c.blocked));
        ClearLog();
        AnswerWith(c.status, c.status == 200 ? InterfaceOneReply("text") : R"({"error":"down"})");
        const std::size_t before = service_.Seen().size();

        const JobSummary summary = Run();

        EXPECT_EQ(service_.Seen().size() - before, c.requests);
        EXPECT_EQ(Read(paths_.keywordList), "甲\r\n乙\r\n");
        EXPECT_EQ(summary.end, c.end);
        EXPECT_EQ(summary.succeeded + summary.failed, 0);
        const Text log = Log();
        const Text logged = "错误信息：" + c.loggedPath + "：Is a directory";
        EXPECT_NE(log.find(logged), Text::npos) << log;
        EXPECT_EQ(Messages().back(), "任务完成！");
        if (c.requests > 0) {
            EXPECT_EQ(summary.returned, 1);
            EXPECT_NE(log.find("关键词【甲】已放回待采集关键词列表"), Text::npos) << log;
        }
        fs::remove_all(NativePath(c.blocked));
    }

    // When even the list cannot take it back, the journal keeps what the list lacks, and the next
    // run (or start of the program) puts the keyword back first.
    WriteList("甲\r\n乙\r\n");
    fs::create_directories(NativePath(paths_.failureList));
    service_.SetAnswer([this](const httplib::Request&, httplib::Response& response) {
        fs::remove(NativePath(paths_.keywordList));
        fs::create_directory(NativePath(paths_.keywordList));
        response.status = 500;
    });
    EXPECT_EQ(Run().end, RunEnd::kEndedEarly);
    EXPECT_NE(Messages().back().find("任务完成"), Text::npos);
    const TextList m = Messages();
    EXPECT_NE(std::find(m.begin(), m.end(), "错误信息：" + paths_.keywordList + "：Is a directory"), m.end())
        << Utf8Lines(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "关键词列表没能写回，未完成的关键词将在下次运行时放回待采集关键词列表"),
              m.end());
    fs::remove(NativePath(paths_.keywordList));
    WriteList("乙\r\n");
    EXPECT_EQ(RecoverInterruptedKeywords(ProgramFolder()), 1);
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n乙\r\n");
}

TEST_F(GenerationJobTest, StopAbortsTheRequestAndReturnsTheKeyword) {
    WriteList("甲\r\n乙\r\n");
    service_.SetAnswer([this](const httplib::Request&, httplib::Response& response) {
        service_.Stall(30000);
        response.set_content(InterfaceOneReply("late"), "application/json");
    });
    JobSummary summary;
    std::thread run([&] { summary = Run(); });
    while (service_.Seen().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(window_.GetNumber(control::kButtonStart, kPropDisabled), 1);
    const auto stopAt = std::chrono::steady_clock::now();
    RequestRunStop();
    run.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));

    EXPECT_EQ(summary.returned, 1);
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n乙\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(Read(paths_.failureList), "<missing>");
    EXPECT_EQ(Messages().back(), "任务完成！");
    EXPECT_EQ(window_.GetNumber(control::kButtonStart, kPropDisabled), 0);
}

TEST_F(GenerationJobTest, KeywordsLeftInTheJournalGoFirst) {
    WriteList("新\r\n");
    ASSERT_TRUE(ReplaceFileContents(paths_.journal, "旧\r\n"));
    AnswerWith(200, InterfaceOneReply("x"));
    EXPECT_EQ(Run().succeeded, 2);
    const auto seen = service_.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(seen[0].body)["prompt"], AnsiToUtf8("旧"));
}

TEST_F(GenerationJobTest, ListHeldByAnotherRunIsLeftAlone) {
    WriteList("甲\r\n");
    KeywordQueue other(paths_);
    ASSERT_TRUE(other.TryLockRun());
    AnswerWith(200, InterfaceOneReply("x"));
    const JobSummary summary = Run();
    EXPECT_EQ(summary.succeeded + summary.failed, 0);
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n");
    EXPECT_TRUE(Messages()[0].starts_with("错误信息："));
    EXPECT_EQ(Messages().back(), "任务完成！");
}

}  // namespace
}  // namespace qj

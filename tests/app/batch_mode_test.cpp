// The window-less mode as a user runs it: the real program, a local completion service.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "child_program.h"
#if !defined(_WIN32)
#include "file_size_limit.h"
#endif
#include "generation/generation_job.h"
#include "generation/keyword_queue.h"
#include "generation/output_files.h"
#include "job_test_support.h"
#include "local_chat_service.h"
#include "platform/program_folder.h"
#include "text/code_page.h"
#include "window/control_names.h"
#include "window/window_model.h"

namespace qj {
namespace {

using testing::InterfaceOneReply;

// The program started with arguments, its output going to a file (errors to the file + ".err").
class Program : public testing::ChildProgram {
public:
    Program(const std::vector<std::string>& args, const std::filesystem::path& outputFile)
        : ChildProgram(testing::BuiltProgram(QJ_PROGRAM, QJ_PROGRAM_FROM_TESTS), args, outputFile) {}
};

std::filesystem::path ErrorsOf(std::filesystem::path output) {
    return output.concat(".err");
}

class BatchModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        service_.Deploy();
        ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
        ASSERT_FALSE(WriteIniValue(ProgramPath(kSettingsFileTail), kind::kEdit, control::kEditOpenAiKey, "sk-batch"));
        service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
            const auto at = request.body.find("\"prompt\":\"");
            const auto end = request.body.find('"', at + 10);
            response.set_content(InterfaceOneReply(request.body.substr(at + 10, end - at - 10) + " text"),
                                 "application/json");
        });
    }

    std::filesystem::path Output() const { return home_.Path() / "stdout.txt"; }
    void KillMidRunAndFinish(int workers);
    void WriteList(const Bytes& contents) { ASSERT_FALSE(ReplaceFileContents(paths_.keywordList, contents)); }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }

    testing::TemporaryHome home_;
    testing::LocalCompletionService service_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

TEST_F(BatchModeTest, RunsTheListAndPrintsTheLogAsUtf8) {
    WriteList("甲\r\n乙\r\n");
    Program program({"--batch"}, Output());
    EXPECT_EQ(program.Wait(), 0);
    const std::string out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("】 > > >  开始生成关键词【甲】相关内容\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("关键词【乙】内容生成成功，已保存到本地目录中！\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("】 > > >  任务完成！\n")), std::string::npos) << out;
    // The figures of the run close the log.
    EXPECT_NE(out.find(AnsiToUtf8("】 > > >  本次任务：已完成 2，失败 0，跳过 0，剩余 0，已用 ")), std::string::npos)
        << out;
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_EQ(Read(paths_.outputFolder + "乙.txt"), "乙 text");
    // The key came from the settings file, as the window would have restored it.
    EXPECT_EQ(service_.Seen().at(0).headers.find("Authorization")->second, "Bearer sk-batch");
}

// Only a run that went through to the end of the list exits with 0 or 1.
TEST_F(BatchModeTest, ExitCodesTellWhetherTheListWasDone) {
    // No list yet: nothing to do, and the log says where the list belongs.
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0);
    EXPECT_NE(
        testing::ReadBytes(Output()).find(AnsiToUtf8("】 > > >  没有找到关键词列表 " + paths_.keywordList + "：")),
        std::string::npos)
        << testing::ReadBytes(Output());

    WriteList("甲\r\n");
    service_.SetAnswer([](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content(R"({"error":"down"})", "application/json");
    });
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 1);
    EXPECT_EQ(Read(paths_.failureList), "甲\r\n");

    // Another program works on the list: this run cannot start.
    WriteList("乙\r\n");
    {
        KeywordQueue holder(paths_);
        ASSERT_TRUE(holder.TryLockRun());
        EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 3);
        EXPECT_NE(testing::ReadBytes(Output())
                      .find(AnsiToUtf8("错误信息：另一个青笺程序正在处理关键词列表 " + paths_.keywordList + "\n")),
                  std::string::npos)
            << testing::ReadBytes(Output());
    }
    EXPECT_EQ(Read(paths_.keywordList), "乙\r\n");

    // The failure cannot be recorded: the keyword is back, asked for once, and the run ends early.
    std::filesystem::remove(NativePath(paths_.failureList));
    std::filesystem::create_directory(NativePath(paths_.failureList));
    const std::size_t before = service_.Seen().size();
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 4);
    EXPECT_EQ(service_.Seen().size(), before + 1);
    EXPECT_EQ(Read(paths_.keywordList), "乙\r\n");
    EXPECT_NE(testing::ReadBytes(Output()).find(AnsiToUtf8("错误信息：" + paths_.failureList + "：Is a directory")),
              std::string::npos);

    EXPECT_EQ(Program({"--bogus"}, Output()).Wait(), 2);
    const std::string usage = testing::ReadBytes(ErrorsOf(Output()));
    EXPECT_NE(usage.find("usage: qingjian"), std::string::npos);
    for (const char* code : {"  3 ", "  4 ", "  130 "}) {
        EXPECT_NE(usage.find(code), std::string::npos) << code;
    }
}

// Interface three's endpoints in the window-less mode: a refused main key fails over to a backup
// line; with no endpoint that answers, the run ends with its keywords kept and exit code 4. Each
// endpoint's figures are printed.
TEST_F(BatchModeTest, EndpointsFailOverAndARunWithoutAnyEndsEarly) {
    testing::LocalChatService chat;
    chat.Plan("sk-batch", {.failStatus = 401});
    chat.Plan("sk-dry", {.failStatus = 429, .errorBody = R"({"error":{"code":"insufficient_quota"}})"});
    const Text ini = ProgramPath(kSettingsFileTail);
    const std::string base = chat.Base();
    for (const auto& [section, name, value] :
         {std::tuple{kind::kRadio, control::kRadioInterfaceOne, "假"},
          std::tuple{kind::kRadio, control::kRadioInterfaceThree, "真"},
          std::tuple{kind::kEdit, control::kEditInterfaceThreeBaseUrl, base.c_str()},
          std::tuple{kind::kEdit, control::kEditInterfaceThreeBackups, "- sk-good"}}) {
        ASSERT_FALSE(WriteIniValue(ini, section, name, value));
    }
    WriteList("甲\r\n乙\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << testing::ReadBytes(Output());
    std::string out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("端点1：文章0篇，失败1次，429回答0次\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("端点2：文章2篇，失败0次，429回答0次\n")), std::string::npos) << out;
    EXPECT_EQ(chat.Of("sk-good").answered, 2);

    ASSERT_FALSE(WriteIniValue(ini, kind::kEdit, control::kEditInterfaceThreeBackups, "- sk-dry"));
    WriteList("丙\r\n丁\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 4);
    out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("错误信息：接口三的所有端点都在休息，本次任务提前结束\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("端点2：文章0篇，失败1次，429回答0次\n")), std::string::npos) << out;
    EXPECT_EQ(Read(paths_.keywordList), "丙\r\n丁\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
}

// Starting the program creates nothing in an empty folder; keywords a killed run left in its
// journal are back in the list as soon as it starts.
TEST(BatchModeStartUp, CreatesNothingButRecoversWhatAKilledRunLeft) {
    testing::TemporaryHome home;
    const std::filesystem::path output = home.Path().parent_path() / "stdout.txt";
    EXPECT_EQ(Program({"--help"}, output).Wait(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(home.Path()));

    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
    ASSERT_FALSE(ReplaceFileContents(paths.keywordList, "乙\r\n"));
    ASSERT_FALSE(ReplaceFileContents(paths.journal, "+甲\r\n"));
    EXPECT_EQ(Program({"--help"}, output).Wait(), 0);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), "甲\r\n乙\r\n");
}

TEST_F(BatchModeTest, ASecondProgramIsRefusedAndAnInterruptReturnsTheKeywordInFlight) {
    WriteList("甲\r\n乙\r\n");
    service_.SetAnswer([this](const httplib::Request&, httplib::Response& response) {
        service_.Stall(30000);
        response.set_content(InterfaceOneReply("late"), "application/json");
    });
    Program program({"--batch"}, Output());
    while (service_.Seen().empty()) {
        ASSERT_TRUE(program.Running()) << testing::ReadBytes(Output());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A second program on the same list, while the first works on it, is refused and says why.
    const std::filesystem::path secondOutput = home_.Path().parent_path() / "second.txt";
    EXPECT_EQ(Program({"--batch"}, secondOutput).Wait(), 3);
    EXPECT_NE(testing::ReadBytes(secondOutput)
                  .find(AnsiToUtf8("错误信息：另一个青笺程序正在处理关键词列表 " + paths_.keywordList + "\n")),
              std::string::npos)
        << testing::ReadBytes(secondOutput);
    program.Interrupt();
    EXPECT_EQ(program.Wait(), 130);
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n乙\r\n");
    EXPECT_EQ(Read(paths_.journal), "");
    // The log says the run was stopped, not that it was done.
    const std::string out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("】 > > >  任务已停止\n")), std::string::npos) << out;
    EXPECT_EQ(out.find(AnsiToUtf8("任务完成！")), std::string::npos) << out;
}

#if !defined(_WIN32)
// Under a limit on file sizes (ulimit -f) an article that does not fit is a write error like any
// other: the log names the file and the reason, the keyword goes back and the run ends early,
// instead of the program dying of SIGXFSZ without a word.
TEST_F(BatchModeTest, AFileSizeLimitIsAWriteError) {
    WriteList("甲\r\n乙\r\n");
    service_.SetAnswer([](const httplib::Request&, httplib::Response& response) {
        response.set_content(InterfaceOneReply(std::string(200000, 'x')), "application/json");
    });
    std::optional<Program> program;
    {
        FileSizeLimit limit(64 * 1024);  // the program inherits it
        program.emplace(std::vector<std::string>{"--batch"}, Output());
    }
    EXPECT_EQ(program->Wait(), 4) << testing::ReadBytes(Output());
    const std::string out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("错误信息：" + paths_.outputFolder)), std::string::npos) << out;
    EXPECT_NE(out.find("File too large"), std::string::npos) << out;
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n乙\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
}
#endif

// A hard kill in the middle of a run loses nothing: every keyword is in the output folder, in the
// failure list, or (after the next start) back in the keyword list.
void BatchModeTest::KillMidRunAndFinish(int workers) {
    ASSERT_FALSE(
        WriteIniValue(ProgramPath(kSettingsFileTail), kind::kEdit, control::kEditConcurrency, std::to_string(workers)));
    std::set<Text> keywords;
    Bytes list;
    for (int i = 0; i < 40; ++i) {
        const Text k = "关键词" + std::to_string(i);
        keywords.insert(k);
        list += k + "\r\n";
    }
    WriteList(list);
    service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        const bool fail = request.body.find("7\"") != std::string::npos;
        response.status = fail ? 500 : 200;
        response.set_content(fail ? std::string("{}") : InterfaceOneReply("text"), "application/json");
    });
    {
        Program program({"--batch"}, Output());
        while (service_.Seen().size() < 12) {
            ASSERT_TRUE(program.Running()) << "the run ended before the kill: " << testing::ReadBytes(Output());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        program.Kill();
        program.Wait();
    }
    auto accounted = [&] {
        std::multiset<Text> found;
        for (const auto& entry : std::filesystem::directory_iterator(NativePath(paths_.outputFolder))) {
            Text name = TextFromNativePath(entry.path().filename());
            found.insert(name.substr(0, name.size() - 4));
        }
        for (const Text& k : ListLines(Read(paths_.failureList))) {
            found.insert(k);
        }
        for (const Text& k : ListLines(Read(paths_.keywordList))) {
            found.insert(k);
        }
        return found;
    };
    RecoverInterruptedKeywords(ProgramFolder());
    const std::multiset<Text> afterKill = accounted();
    for (const Text& k : keywords) {
        EXPECT_GE(afterKill.count(k), 1u) << k;
    }
    // The next run finishes the list.
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 1);
    EXPECT_EQ(Read(paths_.keywordList), "");
    const std::multiset<Text> atEnd = accounted();
    for (const Text& k : keywords) {
        EXPECT_GE(atEnd.count(k), 1u) << k;
    }
    // Every file is a whole article; what the kill cut short was cleared away by the next run.
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(paths_.outputFolder))) {
        EXPECT_EQ(testing::ReadBytes(entry.path()), "text") << entry.path();
    }
}

TEST_F(BatchModeTest, KilledRunLosesNoKeyword) {
    KillMidRunAndFinish(1);
}

TEST_F(BatchModeTest, KilledParallelRunLosesNoKeyword) {
    KillMidRunAndFinish(8);
}

}  // namespace
}  // namespace qj

// The window-less mode as a user runs it: the real program, a local completion service.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "child_program.h"
#if !defined(_WIN32)
#include "file_size_limit.h"
#endif
#include "run/job.h"
#include "run/keyword_list.h"
#include "run/keyword_queue.h"
#include "run/output_files.h"
#include "job_test_support.h"
#include "local_chat_service.h"
#include "platform/program_folder.h"
#include "text/code_page.h"
#include "app/control_names.h"
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
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), kind::kEdit, control::kEditOpenAiKey, "sk-batch"));
        service_.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
            const auto at = request.body.find("\"prompt\":\"");
            const auto end = request.body.find('"', at + 10);
            response.set_content(InterfaceOneReply(request.body.substr(at + 10, end - at - 10) + " text"),
                                 "application/json");
        });
    }

    std::filesystem::path Output() const { return home_.Path() / "stdout.txt"; }
    std::string Log() const { return testing::ReadBytes(Output()); }
    // The prompts the service was asked, from request `from` on, as the program's text.
    std::vector<Text> Prompts(std::size_t from = 0) {
        std::vector<Text> prompts;
        const auto seen = service_.Seen();
        for (std::size_t i = from; i < seen.size(); ++i) {
            const auto at = seen[i].body.find("\"prompt\":\"") + 10;
            prompts.push_back(Utf8ToAnsi(seen[i].body.substr(at, seen[i].body.find('"', at) - at)));
        }
        return prompts;
    }
    void KillMidRunAndFinish(int workers);
    void WriteList(const Bytes& contents) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, contents)); }
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

// On interfaces one and two a list with columns asks for the keyword alone, and the line naming
// the columns stays first in the list.
TEST_F(BatchModeTest, ColumnsOfTheListAreNoPartOfACompletionRequest) {
    WriteList("#列：关键词\t分类\r\n甲\t养生\r\n乙\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << Log();
    EXPECT_EQ(Prompts(), (std::vector<Text>{"甲", "乙"}));
    EXPECT_EQ(Read(paths_.outputFolder + "甲.txt"), "甲 text");
    EXPECT_EQ(Read(paths_.keywordList), "#列：关键词\t分类\r\n");
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

// The window-less mode never runs on settings nobody chose: without a readable 配置.ini it names
// the file and the system's reason and takes no keyword (exit 5). A file written by hand in UTF-8
// is read as UTF-8.
TEST_F(BatchModeTest, ASettingsFileThatCannotBeReadStopsTheRunBeforeItStarts) {
    WriteList("甲\r\n");
    const Text ini = ProgramPath(kSettingsFileTail);
    const Bytes settings = Read(ini);
    ASSERT_TRUE(std::filesystem::remove(NativePath(ini)));
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 5);
    EXPECT_NE(testing::ReadBytes(Output()).find(
                  AnsiToUtf8("错误信息：无法读取配置文件 " + ini + "：No such file or directory，本次任务没有开始")),
              std::string::npos)
        << testing::ReadBytes(Output());
    std::filesystem::create_directory(NativePath(ini));
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 5);
    EXPECT_NE(testing::ReadBytes(Output()).find(AnsiToUtf8("无法读取配置文件 " + ini + "：Is a directory")),
              std::string::npos)
        << testing::ReadBytes(Output());
    EXPECT_TRUE(service_.Seen().empty());
    EXPECT_EQ(Read(paths_.keywordList), "甲\r\n");
    EXPECT_FALSE(std::filesystem::exists(NativePath(paths_.failureList)));

    std::filesystem::remove(NativePath(ini));
    ASSERT_TRUE(ReplaceFileContents(ini, AnsiToUtf8(settings)));
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << testing::ReadBytes(Output());
    EXPECT_NE(testing::ReadBytes(Output()).find(AnsiToUtf8(" 是 UTF-8 编码，已按 UTF-8 读取")), std::string::npos);
    EXPECT_EQ(service_.Seen().at(0).headers.find("Authorization")->second, "Bearer sk-batch");

    EXPECT_EQ(Program({"--bogus"}, Output()).Wait(), 2);
    EXPECT_NE(testing::ReadBytes(ErrorsOf(Output())).find("  5    " + AnsiToUtf8("配置.ini")), std::string::npos);
}

// A list is read in the encoding it was saved in: GBK whose bytes happen to be valid UTF-8 too,
// Notepad's Unicode of either byte order. Keywords that differ only in characters GBK lacks get
// files of their own.
TEST_F(BatchModeTest, ListsOfEveryEncodingReachTheServiceAsWritten) {
    WriteList("杀0\r\n路\r\n");  // C9 B1 30, C2 B7: IPA and Latin-1 if read as UTF-8
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << Log();
    EXPECT_EQ(Prompts(), (std::vector<Text>{"杀0", "路"}));
    EXPECT_EQ(Read(paths_.outputFolder + "杀0.txt"), "杀0 text");
    EXPECT_EQ(Log().find(AnsiToUtf8("编码读取")), std::string::npos) << Log();

    const ListEncoding le = ListEncoding::kUtf16Le;
    const Bytes grin = "\x3D\xD8\x00\xDE", smiley = "\x3D\xD8\x03\xDE";  // U+1F600, U+1F603
    const Bytes crLf = LineEndOf("", le);
    WriteList("\xFF\xFE" + LineFromKeyword("表情", le) + grin + crLf + LineFromKeyword("表情", le) + smiley + crLf +
              LineFromKeyword("甲", le) + crLf);
    std::size_t before = service_.Seen().size();
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << Log();
    EXPECT_EQ(Prompts(before), (std::vector<Text>{"表情?", "表情?", "甲"}));
    EXPECT_NE(Log().find(AnsiToUtf8("】 > > >  关键词列表按UTF-16LE编码读取\n")), std::string::npos) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8("关键词【表情?】中有GBK编码没有的字符")), std::string::npos) << Log();
    std::set<Text> names;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(paths_.outputFolder))) {
        const Text name = TextFromNativePath(entry.path().filename());
        if (name.starts_with("表情")) {
            names.insert(name);
            EXPECT_EQ(testing::ReadBytes(entry.path()), "表情? text");
        }
    }
    EXPECT_EQ(names.size(), 2u) << "two keywords, two files";
    EXPECT_EQ(Read(paths_.outputFolder + "甲.txt"), "甲 text");
    EXPECT_EQ(Read(paths_.keywordList), "\xFF\xFE");

    WriteList("\xFE\xFF" + LineFromKeyword("乙\r\n", ListEncoding::kUtf16Be));
    before = service_.Seen().size();
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << Log();
    EXPECT_EQ(Prompts(before), (std::vector<Text>{"乙"}));
    EXPECT_EQ(Read(paths_.outputFolder + "乙.txt"), "乙 text");
}

// A blank line is an empty line: it ends the run, unasked, and stays in the list. With keywords
// behind it the log says how many, and the run did not go through the list (exit code 4).
TEST_F(BatchModeTest, AnEmptyLineEndsTheRunAndSaysHowManyKeywordsAreLeft) {
    WriteList("甲\r\n \t\r\n乙\r\n丙\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 4) << Log();
    EXPECT_EQ(Prompts(), (std::vector<Text>{"甲"}));
    EXPECT_NE(Log().find(AnsiToUtf8("关键词列表中遇到空行，本次任务到此结束，空行后还有2个关键词")), std::string::npos)
        << Log();
    EXPECT_EQ(Read(paths_.keywordList), " \t\r\n乙\r\n丙\r\n");

    WriteList("丁\r\n　\r\n");  // a full-width blank behind the last keyword
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << Log();
    EXPECT_EQ(Prompts(1), (std::vector<Text>{"丁"}));
    EXPECT_EQ(Read(paths_.keywordList), "　\r\n");
}

// A list the program cannot hold is refused at once with the reason, and left as it is.
TEST_F(BatchModeTest, AListThatIsNoFileOrTooLargeIsRefusedWithAReason) {
    WriteList("");
    std::filesystem::resize_file(NativePath(paths_.keywordList), kMaxListBytes + 1);
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 3) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8("错误信息：" + paths_.keywordList + "：文件大于512MB")), std::string::npos) << Log();
    EXPECT_EQ(std::filesystem::file_size(NativePath(paths_.keywordList)), kMaxListBytes + 1);
#if !defined(_WIN32)
    // A pipe nobody writes to, and a device without end.
    std::filesystem::remove(NativePath(paths_.keywordList));
    ASSERT_EQ(::mkfifo(NativePath(paths_.keywordList).c_str(), 0600), 0);
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 3) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8(paths_.keywordList + "：不是普通文件")), std::string::npos) << Log();
    std::filesystem::remove(NativePath(paths_.keywordList));
    std::filesystem::create_symlink("/dev/zero", NativePath(paths_.keywordList));
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 3) << Log();
    EXPECT_NE(Log().find(AnsiToUtf8(paths_.keywordList + "：不是普通文件")), std::string::npos) << Log();
#endif
    EXPECT_TRUE(service_.Seen().empty());
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
        ASSERT_TRUE(WriteIniValue(ini, section, name, value));
    }
    WriteList("甲\r\n乙\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << testing::ReadBytes(Output());
    std::string out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("端点1：文章0篇，失败1次，429回答0次\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("端点2：文章2篇，失败0次，429回答0次\n")), std::string::npos) << out;
    EXPECT_EQ(chat.Of("sk-good").answered, 2);

    ASSERT_TRUE(WriteIniValue(ini, kind::kEdit, control::kEditInterfaceThreeBackups, "- sk-dry"));
    WriteList("丙\r\n丁\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 4);
    out = testing::ReadBytes(Output());
    EXPECT_NE(out.find(AnsiToUtf8("错误信息：接口三的所有端点都在休息，本次任务提前结束\n")), std::string::npos) << out;
    EXPECT_NE(out.find(AnsiToUtf8("端点2：文章0篇，失败1次，429回答0次\n")), std::string::npos) << out;
    EXPECT_EQ(Read(paths_.keywordList), "丙\r\n丁\r\n");
    EXPECT_EQ(Read(paths_.failureList), "");
}

// A relative QINGJIAN_HOME names a folder of the directory the program was started in, also once
// start-up has made the program folder the current directory.
TEST_F(BatchModeTest, ARelativeHomeIsTakenFromWhereTheProgramStarted) {
    WriteList("甲\r\n");
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(home_.Path().parent_path());
    testing::SetEnvironmentPath("QINGJIAN_HOME", home_.Path().filename());
    const int code = Program({"--batch"}, Output()).Wait();
    std::filesystem::current_path(started);
    EXPECT_EQ(code, 0) << testing::ReadBytes(Output());
    EXPECT_EQ(Read(paths_.outputFolder + "甲.txt"), "甲 text");
    EXPECT_EQ(Read(paths_.keywordList), "");
    EXPECT_FALSE(std::filesystem::exists(home_.Path() / home_.Path().filename()));
}

// A program folder so deep that every path in it is longer than the 260 characters of the short
// form on Windows, and a keyword whose name fills the 255 bytes a name may hold: the run goes as
// anywhere else.
TEST_F(BatchModeTest, DeepFoldersAndLongNamesWork) {
    std::filesystem::path deep = home_.Path();
    for (int i = 0; i < 20; ++i) {
        deep /= std::filesystem::path(u8"层层叠叠的文件夹-folder");
    }
    testing::SetEnvironmentPath("QINGJIAN_HOME", deep);
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    service_.Deploy();
    ASSERT_TRUE(WriteIniValue(ProgramPath(kSettingsFileTail), kind::kEdit, control::kEditOpenAiKey, "sk-batch"));
    Text keyword;
    for (int i = 0; i < 83; ++i) {
        keyword += "长";
    }
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, keyword + "\r\n甲\r\n"));
    ASSERT_GT(NativePath(paths.keywordList).native().size(), 300u);

    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 0) << testing::ReadBytes(Output());
    EXPECT_EQ(Read(paths.outputFolder + keyword + ".txt"), keyword + " text");
    EXPECT_EQ(Read(paths.outputFolder + "甲.txt"), "甲 text");
    EXPECT_EQ(Read(paths.keywordList), "");
    EXPECT_EQ(Read(paths.journal), "");
}

// Starting the program creates nothing in an empty folder; keywords a killed run left in its
// journal are back in the list as soon as it starts.
TEST(BatchModeStartUp, CreatesNothingButRecoversWhatAKilledRunLeft) {
    testing::TemporaryHome home;
    const std::filesystem::path output = home.Path().parent_path() / "stdout.txt";
    EXPECT_EQ(Program({"--help"}, output).Wait(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(home.Path()));

    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    ASSERT_TRUE(ReplaceFileContents(paths.keywordList, "乙\r\n"));
    ASSERT_TRUE(ReplaceFileContents(paths.journal, "+甲\r\n"));
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
    ASSERT_TRUE(
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

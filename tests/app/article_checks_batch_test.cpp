// The article checks as a user meets them: the real program in the window-less mode, 配置.ini
// holding the settings of the 「文章检查」 page, two local chat endpoints that answer each keyword as
// scripted.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/control_names.h"
#include "article_service.h"
#include "checks/check_settings.h"
#include "child_program.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "run/keyword_queue.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "window/window_model.h"

namespace qj {
namespace {

using testing::ArticleService;
using Reply = ArticleService::Reply;

class Program : public testing::ChildProgram {
public:
    Program(const std::vector<std::string>& args, const std::filesystem::path& outputFile)
        : ChildProgram(testing::BuiltProgram(QJ_PROGRAM, QJ_PROGRAM_FROM_TESTS), args, outputFile) {}
};

std::string U(const Text& gbk) {
    return AnsiToUtf8(gbk);
}

Text WithoutLineBreaks(const Text& text) {
    return ReplaceAll(ReplaceAll(text, "\r", ""), "\n", "");
}

class ArticleChecksBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        const Text ini = ProgramPath(kSettingsFileTail);
        const std::string backup = second_.Base() + " - -";
        for (const auto& [section, name, value] :
             {std::tuple{kind::kRadio, control::kRadioInterfaceOne, Text("假")},
              std::tuple{kind::kRadio, control::kRadioInterfaceThree, Text("真")},
              std::tuple{kind::kEdit, control::kEditInterfaceThreeBaseUrl, Text(first_.Base())},
              std::tuple{kind::kEdit, control::kEditInterfaceThreeBackups, Text(backup)},
              std::tuple{kind::kEdit, control::kEditInterfaceThreePrompt, Text("{关键词}")},
              std::tuple{kind::kEdit, control::kEditChecksMinCharacters, Text("50")},
              std::tuple{kind::kEdit, control::kEditChecksBannedWords, Text("违禁词.txt")}}) {
            ASSERT_TRUE(WriteIniValue(ini, section, name, value));
        }
        // The continuations (2), the similarity (3) and the refusal phrases are the page's defaults.
        ASSERT_TRUE(ReplaceFileContents(ProgramPath("违禁词.txt"), "赌博\r\n坏词=好词\r\n"));
    }

    std::filesystem::path Output() const { return home_.Path() / "stdout.txt"; }
    std::string Log() const { return testing::ReadBytes(Output()); }
    bool Logged(const Text& line) const { return Log().find(U(line) + "\n") != std::string::npos; }
    static Text Read(const Text& path) { return ReadFileBytes(path).value_or(""); }
    void WriteList(const Text& keywords) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, keywords)); }
    // The same script on both endpoints: whichever gets the keyword answers alike.
    void Script(const Text& keyword, std::vector<ArticleService::Step> steps) {
        first_.Script(U(keyword), steps);
        second_.Script(U(keyword), steps);
    }
    std::vector<std::string> Bodies(ArticleService& service, const Text& keyword) {
        return service.BodiesOf(U(keyword));
    }
    // The rows of the run report (UTF-8 with a byte-order mark), cells split at commas.
    std::vector<std::vector<std::string>> ReportRows() {
        std::vector<std::vector<std::string>> rows;
        const Text folder = ProgramPath("OpenAi/运行报告");
        for (const auto& entry : std::filesystem::directory_iterator(NativePath(folder))) {
            std::string bytes = testing::ReadBytes(entry.path());
            EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
            bytes.erase(0, 3);
            for (std::size_t from = 0; from < bytes.size();) {
                const std::size_t end = bytes.find("\r\n", from);
                std::vector<std::string> cells;
                const std::string line = bytes.substr(from, end - from);
                for (std::size_t at = 0;;) {
                    const std::size_t comma = line.find(',', at);
                    cells.push_back(line.substr(at, comma - at));
                    if (comma == std::string::npos) {
                        break;
                    }
                    at = comma + 1;
                }
                rows.push_back(cells);
                from = end + 2;
            }
        }
        return rows;
    }

    testing::TemporaryHome home_;
    ArticleService first_;
    ArticleService second_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

// Every check in one run, each keyword scripted to meet one: continued and joined, cut off for good,
// refused and asked again, too short, banned and replaced words, a near copy of an article written
// earlier in the run, a review refusal that fails over to the next endpoint and one that no endpoint
// lets through. The closing line counts what the checks stopped, and the run report has a row per
// keyword. A second run compares with the articles of the first (through the index file beside
// them), and an article the user deleted no longer counts.
TEST_F(ArticleChecksBatchTest, EveryCheckStopsItsRepliesAndTheReportTellsEachKeyword) {
    Script("截断", {{Reply::kCutOff}, {Reply::kRest}});
    Script("长截断", {{Reply::kCutOff}});
    Script("拒答", {{Reply::kRefusal}});
    Script("拒答后写", {{Reply::kRefusal}, {Reply::kArticle}});
    Script("太短", {{Reply::kShort}});
    Script("违禁", {{Reply::kBanned, U("赌博")}});
    Script("替换", {{Reply::kBanned, U("坏词")}});
    Script("重复", {{Reply::kCopy, U("截断")}});
    first_.Script(U("审核"), {{Reply::kReviewError}});
    second_.Script(U("审核"), {{Reply::kFiltered}});
    first_.Script(U("换端点"), {{Reply::kReviewError}});
    WriteList("截断\r\n长截断\r\n拒答\r\n拒答后写\r\n太短\r\n违禁\r\n替换\r\n重复\r\n审核\r\n换端点\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 1) << Log();

    // Continued once: the article so far as the assistant's message, then the continuation prompt.
    const std::vector<std::string> cut = Bodies(first_, "截断");
    ASSERT_EQ(cut.size(), 2u) << Log();
    EXPECT_NE(cut[1].find(R"("role":"assistant")"), std::string::npos);
    EXPECT_NE(cut[1].find(U(kDefaultContinuationPrompt)), std::string::npos);
    EXPECT_EQ(WithoutLineBreaks(Read(paths_.outputFolder + "截断.txt")),
              WithoutLineBreaks(Utf8ToAnsi(ArticleService::ArticleOf(U("截断")))));
    EXPECT_TRUE(Logged("关键词【截断】的回复被截断，第1次请求续写"));
    // Two continuations, then the keyword fails.
    EXPECT_EQ(Bodies(first_, "长截断").size(), 3u);
    EXPECT_TRUE(Logged("关键词【长截断】未通过检查：回复被截断"));

    // Asked again once (retries 0), then failed; or written when the second answer is an article.
    EXPECT_EQ(Bodies(first_, "拒答").size(), 2u);
    EXPECT_TRUE(Logged("关键词【拒答】未通过检查：模型拒绝写作，重新请求"));
    EXPECT_TRUE(Logged("关键词【拒答】未通过检查：模型拒绝写作"));
    EXPECT_FALSE(Read(paths_.outputFolder + "拒答后写.txt").empty());
    EXPECT_TRUE(Logged("关键词【太短】未通过检查：字数不足（5字）"));
    EXPECT_TRUE(Logged("关键词【违禁】未通过检查：含违禁词：赌博"));
    const Text replaced = Read(paths_.outputFolder + "替换.txt");
    EXPECT_NE(replaced.find("好词"), Text::npos);
    EXPECT_EQ(replaced.find("坏词"), Text::npos);

    // The near copy is asked for again with the variation hint behind the prompt, then fails.
    const std::vector<std::string> copies = Bodies(first_, "重复");
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].find(U(kVariationHint)), std::string::npos);
    EXPECT_NE(copies[1].find(U(kVariationHint)), std::string::npos);
    EXPECT_TRUE(Logged("关键词【重复】未通过检查：与【截断】的文章重复"));

    // A review refusal is never asked again of the same endpoint: the next one is tried.
    EXPECT_EQ(Bodies(first_, "审核").size(), 1u);
    EXPECT_EQ(Bodies(second_, "审核").size(), 1u);
    EXPECT_TRUE(Logged("关键词【审核】未通过检查：内容审核未通过"));
    EXPECT_EQ(Bodies(first_, "换端点").size(), 1u);
    EXPECT_EQ(Bodies(second_, "换端点").size(), 1u);
    EXPECT_FALSE(Read(paths_.outputFolder + "换端点.txt").empty());

    EXPECT_EQ(Read(paths_.failureList), "长截断\r\n拒答\r\n太短\r\n违禁\r\n重复\r\n审核\r\n");
    EXPECT_TRUE(Logged("文章检查拦下的回复：截断1篇（另续写3次），内容审核1篇，拒绝写作3篇，不足50字2篇，"
                       "含违禁词2篇（替换1处），重复2篇"))
        << Log();

    const std::vector<std::vector<std::string>> rows = ReportRows();
    ASSERT_EQ(rows.size(), 11u);
    std::map<std::string, std::vector<std::string>> byKeyword;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), rows[0].size());
        byKeyword[rows[i][1]] = rows[i];
    }
    EXPECT_EQ(rows[0][2], U("结果"));
    // keyword, outcome, reason, endpoint, tries, characters present, file name
    const auto row = [&](const Text& keyword) { return byKeyword[U(keyword)]; };
    EXPECT_EQ(row("截断")[2], U("已写入"));
    EXPECT_EQ(row("截断")[4], U("端点1"));
    EXPECT_EQ(row("截断")[5], "2");
    EXPECT_GT(std::stoi(row("截断")[6]), 500);
    EXPECT_EQ(row("截断")[7], "40");  // prompt tokens of both requests
    EXPECT_EQ(row("截断")[9], U("截断.txt"));
    EXPECT_EQ(row("审核")[2], U("失败"));
    EXPECT_EQ(row("审核")[3], U("内容审核未通过"));
    EXPECT_EQ(row("审核")[5], "2");
    EXPECT_EQ(row("换端点")[4], U("端点2"));
    EXPECT_EQ(row("太短")[3], U("字数不足（5字）"));
    EXPECT_EQ(row("太短")[9], "");

    // The next run: the articles of the first count through the index file beside them, until the
    // user deletes one.
    EXPECT_TRUE(std::filesystem::exists(NativePath(ProgramPath("OpenAi/文章指纹.txt"))));
    Script("再重复", {{Reply::kCopy, U("截断")}});
    Script("删后写", {{Reply::kCopy, U("拒答后写")}});
    ASSERT_TRUE(std::filesystem::remove(NativePath(paths_.outputFolder + "拒答后写.txt")));
    WriteList("再重复\r\n删后写\r\n");
    EXPECT_EQ(Program({"--batch"}, Output()).Wait(), 1) << Log();
    EXPECT_TRUE(Logged("关键词【再重复】未通过检查：与【截断】的文章重复")) << Log();
    EXPECT_FALSE(Read(paths_.outputFolder + "删后写.txt").empty()) << Log();
}

}  // namespace
}  // namespace qj

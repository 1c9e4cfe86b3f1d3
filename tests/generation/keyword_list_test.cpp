// Keyword lists saved as UTF-8 or GBK: how they are told apart, read, and written back.

#include "generation/keyword_list.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/control_names.h"
#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/memory_window.h"
#include "generation/generation_job.h"
#include "generation/keyword_queue.h"
#include "job_test_support.h"
#include "text/code_page.h"

namespace qj {
namespace {

const Bytes kBom = "\xEF\xBB\xBF";
const Bytes kGrin = "\xF0\x9F\x98\x80";  // an emoji, which GBK lacks

Bytes U(const Text& gbk) {
    return AnsiToUtf8(gbk);
}

TEST(ListFormat, TheBytesDecide) {
    const struct {
        Bytes bytes;
        ListFormat format;
    } cases[] = {
        {"", {false, 0}},
        {"plain ascii\r\n", {false, 0}},
        {"泡脚\r\n", {false, 0}},         // GBK bytes are not valid UTF-8
        {U("泡脚") + "\r\n", {true, 0}},  // valid UTF-8 with multi-byte sequences
        {kBom, {true, 3}},                // the mark alone, as editors save an empty list
        {kBom + "ascii\r\n", {true, 3}},
        {kBom + "\xFF\r\n", {true, 3}},      // the mark decides, broken bytes or not
        {"\xC0\xAF\r\n", {false, 0}},        // an overlong form is no UTF-8
        {"\xED\xA0\x80\r\n", {false, 0}},    // nor is a surrogate
        {U("甲") + "\xE4\xB8", {false, 0}},  // nor a sequence cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectListFormat(c.bytes), c.format) << c.bytes;
    }
}

TEST(ListFormat, LinesAndAppendingKeepEveryOtherByte) {
    // "中" in UTF-8 ends in a byte that GBK takes for a lead byte: read as GBK it would eat the CR.
    const Bytes utf8 = U("中") + "\r\n" + U("文") + "\n";
    EXPECT_EQ(ListLines(utf8, true), (TextList{U("中"), U("文")}));
    EXPECT_EQ(ListLines("誠\r\nx", false), (TextList{"誠", "x"}));  // a trail byte 0x5C ends nothing

    const struct {
        Bytes list, ready;
    } cases[] = {
        {"", ""},
        {"a\r\nb\r\n\r\n\r\n", "a\r\nb\r\n"},
        {"a\nb", "a\nb\n"},  // an LF list gets LF
        {"a\rb\r\n", "a\rb\r\n"},
        {kBom, kBom},
        {kBom + "\r\n", kBom},
        {kBom + U("甲") + "\r\n\r\n", kBom + U("甲") + "\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListToAppendTo(c.list), c.ready) << c.list;
    }
}

// The queue over a UTF-8 list: the program sees GBK keywords, the list only ever its own bytes.
TEST(Utf8List, LinesGoBackWithTheBytesTheyHad) {
    testing::TemporaryHome home;
    ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    const Bytes list = kBom + U("甲") + kGrin + "\r\n" + U("乙") + "\r\n";
    ASSERT_FALSE(ReplaceFileContents(paths.keywordList, list));
    {
        KeywordQueue crashed(paths, std::chrono::hours(1));
        const KeywordQueue::Taken taken = crashed.TakeNextKeyword();
        EXPECT_EQ(taken.keyword, "甲?");
        EXPECT_TRUE(taken.lossy);
        ASSERT_FALSE(crashed.Flush());
        EXPECT_EQ(ReadFileBytes(paths.keywordList), kBom + U("乙") + "\r\n");
    }
    KeywordQueue queue(paths, std::chrono::hours(1));
    EXPECT_EQ(queue.Recover(), 1);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);

    EXPECT_EQ(queue.TakeNextKeyword().keyword, "甲?");
    const KeywordQueue::Taken second = queue.TakeNextKeyword();
    EXPECT_EQ(second.keyword, "乙");
    EXPECT_FALSE(second.lossy);
    EXPECT_EQ(queue.RemainingCount(), 2);
    EXPECT_FALSE(queue.Return("乙"));
    EXPECT_FALSE(queue.Return("甲?"));
    ASSERT_FALSE(queue.Flush());
    EXPECT_EQ(ReadFileBytes(paths.keywordList), list);
}

// A whole run over a list saved by a UTF-8 editor, then 失败重试.
TEST(Utf8List, ARunSendsTheRightKeywordsAndRetriesFailuresInUtf8) {
    testing::TemporaryHome home;
    testing::LocalCompletionService service;
    service.Deploy();
    ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
    MemoryWindow window{MainWindowLayout().controls};
    SetMainWindow(&window);
    window.SetText(control::kEditOpenAiKey, kPropContent, "sk-test");
    const JobPaths paths = JobPathsIn(ProgramFolder());
    ASSERT_FALSE(
        ReplaceFileContents(paths.keywordList, kBom + U("泡脚") + "\n" + U("表情") + kGrin + "\n" + U("槟榔") + "\n"));
    service.SetAnswer([](const httplib::Request& request, httplib::Response& response) {
        const std::string prompt = nlohmann::json::parse(request.body)["prompt"];
        if (prompt == U("槟榔")) {
            response.status = 400;
            response.set_content(R"({"error":{"message":"bad"}})", "application/json");
        } else {
            response.set_content(testing::InterfaceOneReply(prompt + " text"), "application/json");
        }
    });

    KeywordQueue queue(paths);
    const JobSummary summary = RunGenerationJob(window, queue, ChosenGenerator);
    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(summary.failed, 1);
    std::vector<std::string> prompts;
    for (const auto& seen : service.Seen()) {
        prompts.push_back(nlohmann::json::parse(seen.body)["prompt"]);
    }
    EXPECT_EQ(prompts, (std::vector<std::string>{U("泡脚"), U("表情?"), U("槟榔")}));
    EXPECT_EQ(ReadFileBytes(paths.outputFolder + "泡脚.txt"), "泡脚 text");
    const Text log = window.GetText(kRunLogControl, kPropContent);
    EXPECT_NE(log.find("关键词【表情?】中有GBK编码没有的字符，已换成“?”"), Text::npos) << log;
    EXPECT_EQ(log.find("关键词【泡脚】中有"), Text::npos);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), kBom);
    EXPECT_EQ(ReadFileBytes(paths.failureList), "槟榔\r\n");

    HandleClick(window, control::kButtonRequeueFailed);
    EXPECT_EQ(ReadFileBytes(paths.keywordList), kBom + U("槟榔") + "\r\n");
    SetMainWindow(nullptr);
    LoadDeployment("");
}

}  // namespace
}  // namespace qj

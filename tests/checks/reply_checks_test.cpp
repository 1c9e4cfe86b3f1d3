// The checks of a reply in their order, and the rules each one reads a reply by.

#include "checks/reply_checks.h"

#include <gtest/gtest.h>

#include "checks/check_figures.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

CheckSettings AllOn() {
    CheckSettings settings = ReadCheckSettings({.continuations = "",
                                                .refusalPhrases = kDefaultRefusalPhrases,
                                                .minCharacters = "10",
                                                .bannedWordFile = "违禁词.txt",
                                                .similarity = "3"},
                                               "/程序/");
    EXPECT_EQ(settings.bannedWordFile, "/程序/违禁词.txt");
    return settings;
}

// Each reply is stopped by the first check it fails, whatever later checks would say.
TEST(ReplyChecksTest, TheFirstCheckAReplyFailsDecides) {
    // Long enough for the duplicate check to look at it.
    const Text article =
        "泡脚能促进血液循环，缓解一天的疲劳，还能帮助睡眠。水温以四十度左右为宜，时间不要超过半小时，"
        "饭后一小时内不宜泡脚。泡的时候可以加一点生姜或者艾叶，冬天手脚冰凉的人坚持一段时间会有明显的感觉。"
        "患有糖尿病或者静脉曲张的人应当先问过医生。";
    const Text refusal = "作为一个人工智能语言模型，我无法为您撰写这篇文章。";
    DuplicateIndex index("/nonexistent/", "/nonexistent/index.txt", 3);
    ArticleChecks checks(AllOn(), BannedWords({{"赌博", {}}, {"睡眠", "休息"}}), &index);
    struct Case {
        Text text;
        const char* finish;
        std::optional<ArticleCheck> stopped;
        Text reason;
    } cases[] = {
        {refusal, "length", ArticleCheck::kCutOff, "回复被截断"},
        {refusal, "content_filter", ArticleCheck::kReview, "内容审核未通过"},
        {"赌博" + refusal, "sensitive", ArticleCheck::kReview, "内容审核未通过"},
        {refusal, "stop", ArticleCheck::kRefusal, "模型拒绝写作"},
        {"I’m  SORRY, but I can’t write that.", "", ArticleCheck::kRefusal, "模型拒绝写作"},
        {"很抱歉,我没能理解。" + article, "", ArticleCheck::kRefusal, "模型拒绝写作"},
        {Text(400, 'x') + refusal, "stop", std::nullopt, ""},  // beyond the first 200 characters
        {"好处 很 多", "stop", ArticleCheck::kTooShort, "字数不足（4字）"},
        {"赌博" + article, "stop", ArticleCheck::kBannedWords, "含违禁词：赌博"},
        {article, "stop", std::nullopt, ""},
        {article + "！", "stop", ArticleCheck::kDuplicate, "与【甲】的文章重复"},
    };
    int n = 0;
    for (const Case& c : cases) {
        // Each reply is another keyword's; those that pass count for the duplicate check.
        const CheckVerdict verdict = checks.Check(c.text, c.finish, std::to_string(++n) + ".txt", "甲");
        EXPECT_EQ(verdict.stopped, c.stopped) << AnsiToUtf8(c.text);
        EXPECT_EQ(verdict.reason, c.reason) << AnsiToUtf8(c.text);
        if (c.text == article) {
            EXPECT_EQ(verdict.article, ReplaceAll(article, "睡眠", "休息"));
            EXPECT_EQ(verdict.replaced, 1);
        }
    }

    // With the optional checks off only the cut-off and review checks remain.
    ArticleChecks off(ReadCheckSettings({}, "/"), BannedWords(), nullptr);
    EXPECT_FALSE(off.Check(refusal, "stop", "乙.txt", "乙").stopped);
    EXPECT_EQ(off.Check(article, "length", "乙.txt", "乙").stopped, ArticleCheck::kCutOff);
    CheckFigures figures;
    figures.Stopped(ArticleCheck::kCutOff);
    figures.Continued();
    figures.Continued();
    EXPECT_EQ(figures.ClosingLine(off.settings(), false), "文章检查拦下的回复：截断1篇（另续写2次），内容审核0篇");
    figures.Stopped(ArticleCheck::kDuplicate);
    figures.Replaced(3);
    EXPECT_EQ(
        figures.ClosingLine(AllOn(), true),
        "文章检查拦下的回复：截断1篇（另续写2次），内容审核0篇，拒绝写作0篇，不足10字0篇，含违禁词0篇（替换3处），"
        "重复1篇");
}

TEST(ReplyChecksTest, ErrorRepliesOfReviewAreToldFromOtherErrors) {
    struct Case {
        const char* body;
        Text message;
        bool review;
    } cases[] = {
        {R"({"code":"DataInspectionFailed","message":"Input data may contain inappropriate content."})", "", true},
        {R"({"error":{"code":"1301","message":"...")", "系统检测到输入或生成内容可能包含不安全或敏感内容", true},
        {R"({"error":{"code":"content_filter","message":"The response was filtered"}})", "", true},
        {R"({"error":{"code":"content_policy_violation"}})", "", true},
        {R"({"error":{"type":"content_filter"}})", "The request was rejected because it was considered high risk",
         true},
        {"\xE9\xAB\x98"
         "content_filter",
         "", true},  // a byte that GBK would take as a lead byte
        {R"({"error":{"code":"insufficient_quota"}})", "You exceeded your current quota", false},
        {R"({"error":{"code":"invalid_api_key"}})", "Incorrect API key provided", false},
        {R"({"error":{"code":"1302"}})", "您当前使用该API的并发数过高", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SaysStoppedByReview(c.body, c.message), c.review) << c.body;
    }
    EXPECT_TRUE(IsCutOffFinish("length"));
    EXPECT_FALSE(IsCutOffFinish(""));
    EXPECT_FALSE(IsReviewFinish("stop"));
}

TEST(ReplyChecksTest, SettingsAsTypedBecomeTheRunsChecks) {
    const CheckSettings empty = ReadCheckSettings({}, "/程序/");
    EXPECT_EQ(empty, CheckSettings{});
    EXPECT_EQ(empty.continuations, 2);
    EXPECT_EQ(empty.similarity, 0);
    const CheckSettings typed = ReadCheckSettings({.continuations = " 9 ",
                                                   .refusalPhrases = "  抱歉 \r\n\r\n\tI cannot\n",
                                                   .minCharacters = "abc",
                                                   .bannedWordFile = "D:\\词\\违禁词.txt",
                                                   .similarity = "0"},
                                                  "/程序/");
    EXPECT_EQ(typed.continuations, 5);
    EXPECT_EQ(typed.refusalPhrases, (std::vector<Text>{"抱歉", "I cannot"}));
    EXPECT_EQ(typed.minCharacters, 0);
    EXPECT_EQ(typed.bannedWordFile, "D:\\词\\违禁词.txt");
    EXPECT_EQ(typed.similarity, 0);
    EXPECT_EQ(ReadCheckSettings({.continuations = "0", .similarity = "15"}, "/").similarity, 10);
    EXPECT_EQ(ReadCheckSettings({.continuations = "0"}, "/").continuations, 0);
    EXPECT_TRUE(ReadCheckSettings({.refusalPhrases = " - \r\n"}, "/").refusalPhrases.empty());
}

}  // namespace
}  // namespace qj

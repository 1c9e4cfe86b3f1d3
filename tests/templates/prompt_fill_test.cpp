// Keyword rows with columns, the templates they fill, the steps before the article and its title.

#include <gtest/gtest.h>

#include "templates/article_form.h"
#include "templates/keyword_row.h"
#include "templates/prompt_fill.h"
#include "templates/template_settings.h"

namespace qj {
namespace {

TEST(PromptFillTest, ColumnsFillTemplatesByNameAndNumber) {
    const std::optional<KeywordColumns> header = ReadColumnHeader("#列：关键词\t分类\t\t要求");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->names, (std::vector<Text>{"关键词", "分类", "", "要求"}));
    EXPECT_EQ(ReadColumnHeader("#列: 词，分类 标签")->names, (std::vector<Text>{"词", "分类", "标签"}));
    EXPECT_FALSE(ReadColumnHeader("#列表"));
    EXPECT_FALSE(ReadColumnHeader("关键词\t分类"));

    const KeywordRow row("泡脚\t养生\t标签甲\t不少于800字", &*header);
    EXPECT_EQ(row.keyword(), "泡脚");
    EXPECT_EQ(row.line(), "泡脚\t养生\t标签甲\t不少于800字");
    EXPECT_EQ(row.Field("分类"), "养生");
    EXPECT_EQ(row.Field("列3"), "标签甲");  // the column the header left unnamed
    EXPECT_EQ(row.Field("列9"), "");        // a column the line lacks is empty
    EXPECT_EQ(row.Field("标签"), std::nullopt);
    EXPECT_EQ(row.FieldOr("标签", "默认"), "默认");
    EXPECT_EQ(KeywordRow("甲", nullptr).FieldOr("分类", "默认"), "默认");
    EXPECT_FALSE(KeywordRow("甲 乙", nullptr).HasColumns());

    // "{" is the second byte of 亄 (0x81 0x7B): it opens no placeholder. Unknown names stay.
    const PromptValues values{.row = &row, .title = Text("泡脚的十个好处")};
    EXPECT_EQ(FillPrompt("写{关键词}（{分类}，{列4}）{标题}{大纲}{未知}{}亄关键词}", values),
              "写泡脚（养生，不少于800字）泡脚的十个好处{未知}{}亄关键词}");
    const std::vector<PromptPiece> pieces = FillPieces("A{关键词}B", values);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_TRUE(pieces[1].value);
    EXPECT_EQ(pieces[1].text, "泡脚");
}

TEST(PromptFillTest, StepsGetTheEarlierResultsAndBadTemplatesAreRefused) {
    const ArticleSteps steps{"为{关键词}写一个标题", "为{标题}写大纲"};
    EXPECT_EQ(StepTemplate(steps, Step::kTitle, "写{关键词}", ""), "为{关键词}写一个标题");
    EXPECT_EQ(StepTemplate(steps, Step::kOutline, "写{关键词}", ""), "为{标题}写大纲");
    // The article prompt names neither result: both are appended so that they reach the model.
    EXPECT_EQ(StepTemplate(steps, Step::kArticle, "写{关键词}", ""),
              "写{关键词}\r\n\r\n文章标题：{标题}\r\n\r\n请按照以下大纲写作：\r\n{大纲}");
    EXPECT_EQ(StepTemplate(steps, Step::kArticle, "写{标题}", "大纲：{大纲}"), "写{标题}");
    EXPECT_EQ(StepTemplate({}, Step::kArticle, "写{关键词}", ""), "写{关键词}");

    const KeywordColumns withTitleColumn{{"关键词", "标题"}};
    struct Case {
        ArticleSteps steps;
        Text article;
        const KeywordColumns* columns;
        Text error;
    };
    const Case cases[] = {
        {steps, "写文章", nullptr, ""},  // the keyword reaches the article through the title
        {{}, "写文章", nullptr, "接口三设置有误：提示词中没有{关键词}，关键词无法写进请求"},
        {{}, "写{关键词}：{标题}", nullptr, "接口三设置有误：提示词用了{标题}，但没有填写标题提示词"},
        {{}, "写{关键词}：{标题}", &withTitleColumn, ""},
        {{"{大纲}的标题", "为{关键词}写大纲"},
         "写",
         nullptr,
         "接口三设置有误：标题提示词用了{大纲}，但大纲在它之后才写"},
        {{"", "为{关键词}写大纲"}, "写{大纲}", nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckStepTemplates(c.steps, c.article, "", c.columns), c.error) << c.article;
    }
}

TEST(PromptFillTest, TitlesComeCleanOutOfTheReply) {
    const std::pair<Text, Text> cases[] = {
        {"泡脚的十个好处", "泡脚的十个好处"},
        {"\r\n\r\n## 标题：《泡脚的十个好处》\r\n正文", "泡脚的十个好处"},
        {"1. “泡脚养生”。", "泡脚养生"},
        {"**Title: Foot baths**", "Foot baths"},
        {"\xA1\xA1「冬天泡脚」\xA1\xA1", "冬天泡脚"},
        {"《》", "《》"},
        {"  \r\n", ""},
    };
    for (const auto& [reply, title] : cases) {
        EXPECT_EQ(TitleFromReply(reply), title) << reply;
    }
    EXPECT_EQ(PlainArticleWithTitle("泡脚", "# 泡脚\r\n\r\n正文"), "泡脚\r\n正文");
    EXPECT_EQ(PlainArticleWithTitle("泡脚", "正文"), "泡脚\r\n正文");

    EXPECT_EQ(LinksPerArticle(""), 3);
    EXPECT_EQ(LinksPerArticle(" 5 "), 5);
    EXPECT_EQ(LinksPerArticle("0"), 0);
    EXPECT_EQ(LinksPerArticle("abc"), 3);
    EXPECT_EQ(LinksPerArticle("100000"), kMaxLinksPerArticle);
}

}  // namespace
}  // namespace qj

// Internal links: where they go in an article, by example and over many generated articles.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "link_placement_check.h"
#include "templates/article_form.h"
#include "templates/internal_links.h"

namespace qj {
namespace {

const std::vector<InternalLink> kLinks{
    {"北京", "http://site.example/bj"},
    {"北京烤鸭", "http://site.example/kaoya"},
    {"烤鸭", "http://site.example/kaoya"},  // a second anchor of one page
    {"Python", "/python"},
    {"AI", "http://site.example/ai?x=1&y=2"},
    {" 青笺 ", "http://site.example/qj"},
    {"泡脚的好处", "http://site.example/paojiao"},
    {"好处", "http://site.example/haochu"},
};

Text Paragraphs(const Text& text) {
    Text html;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find("\r\n", from);
        end = end == Text::npos ? text.size() : end;
        if (end > from) {
            html += "<p>" + text.substr(from, end - from) + "</p>\r\n";
        }
        from = end + 2;
    }
    return html;
}

TEST(InternalLinksTest, ArticlesGetTheirTitleAndLinksInBothForms) {
    const LinkSet links(kLinks);
    const Text text =
        "北京烤鸭的做法\r\n\r\n北京烤鸭是北京的名菜，ai和Python都不懂烤鸭。\r\nEMAIL里没有AI，PythonX也不是Python。";
    const LinkRules rules{.maxLinks = 3, .ownKeyword = "北京"};
    // The repeated title line goes; the heading takes no link; 北京 is the article's own keyword;
    // 烤鸭 goes to the page 北京烤鸭 took already; a word inside a longer ASCII word is no anchor.
    EXPECT_EQ(
        FinishArticle(Text("北京烤鸭的做法"), text, &Paragraphs, links, rules),
        "<h1>北京烤鸭的做法</h1>\r\n"
        "<p><a href=\"http://site.example/kaoya\">北京烤鸭</a>是北京的名菜，"
        "<a href=\"http://site.example/ai?x=1&amp;y=2\">ai</a>和<a href=\"/python\">Python</a>都不懂烤鸭。</p>\r\n"
        "<p>EMAIL里没有AI，PythonX也不是Python。</p>\r\n");
    // Where anchors begin at one place, the longest wins.
    EXPECT_EQ(FinishArticle(Text("北京烤鸭的做法"), text, nullptr, links, {.maxLinks = 5, .ownKeyword = "泡脚"}),
              "北京烤鸭的做法\r\n北京烤鸭是北京的名菜，ai和Python都不懂烤鸭。\r\nEMAIL里没有AI，PythonX也不是Python。"
              "\r\n\r\n相关阅读：\r\n北京烤鸭：http://site.example/kaoya\r\n北京：http://site.example/bj\r\n"
              "AI：http://site.example/ai?x=1&y=2\r\nPython：/python");
    // No links asked for, or none that the text calls for: the text as it was.
    EXPECT_EQ(FinishArticle(std::nullopt, "泡脚", nullptr, links, {.maxLinks = 0}), "泡脚");
    EXPECT_EQ(FinishArticle(std::nullopt, "无关", &Paragraphs, links, rules), "<p>无关</p>\r\n");
}

// Generated articles of paragraphs, headings, links, comments, scripts, tags whose attributes hold
// anchors, stray angle brackets, and characters whose second byte is an ASCII letter.
class ArticleMaker {
public:
    explicit ArticleMaker(unsigned seed) : random_(seed) {}

    Text Inline(int pieces) {
        static const std::vector<Text> kWords{"北京",       "北京烤鸭", "烤鸭", "Python", "AI",    "ai",      "青笺",
                                              "泡脚的好处", "好处",     "的",   "和",     "EMAIL", "AIR",     "丄I",
                                              " ",          "，",       "。",   "< 1",    "x<y",   "\xA1\xA1"};
        Text text;
        for (int i = 0; i < pieces; ++i) {
            text += kWords[Pick(kWords.size())];
        }
        return text;
    }

    Text Article() {
        Text html;
        const int blocks = 1 + static_cast<int>(Pick(8));
        for (int b = 0; b < blocks; ++b) {
            switch (Pick(9)) {
                case 0:
                    html += "<h1>" + Inline(4) + "</h1>\r\n";
                    break;
                case 1:
                    html += "<h2 class=\"t\">" + Inline(3) + "</h2>\r\n";
                    break;
                case 2:
                    html += "<p>" + Inline(3) + "<a href=\"http://ext.example/1\">" + Inline(2) + "</a>" + Inline(3) +
                            "</p>\r\n";
                    break;
                case 3:
                    html += "<p><a href=\"http://site.example/bj\">" + Inline(1) + "</a>" + Inline(4) + "</p>\r\n";
                    break;
                case 4:
                    html += "<p><img alt=\"北京烤鸭\"><span title='a>北京'>" + Inline(3) + "</span></p>\r\n";
                    break;
                case 5:
                    html += "<!-- 烤鸭 " + Inline(2) + " --><script>" + Inline(2) + "</script>\r\n";
                    break;
                case 6:
                    html += "<h3>" + Inline(2);  // never closed
                    break;
                default:
                    html += "<p>" + Inline(6) + "</p>\r\n";
            }
        }
        return html;
    }

    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

private:
    std::mt19937 random_;
};

TEST(InternalLinksTest, GeneratedArticlesKeepEveryRuleOfPlacement) {
    const LinkSet links(kLinks);
    std::vector<testing::CheckedLink> checked;
    for (const InternalLink& link : kLinks) {
        checked.push_back({link.anchor, link.url});
    }
    const std::vector<Text> keywords{"", "北京", "ai", "泡脚的好处", "无关"};
    ArticleMaker maker(20240611);
    int placedSome = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool plain = round % 4 == 3;
        Text before = plain ? maker.Inline(12) : maker.Article();
        if (plain) {
            std::replace(before.begin(), before.end(), '<', '(');  // a plain text has no markup to keep out of
        }
        const LinkRules rules{.maxLinks = static_cast<int>(maker.Pick(5)),
                              .ownKeyword = keywords[maker.Pick(keywords.size())]};
        const std::vector<PlacedLink> placed =
            plain ? ChooseLinksInText(before, links, rules) : ChooseLinksInHtml(before, links, rules);
        placedSome += !placed.empty();
        // The plain form's choice, shown as links, obeys the same rules over a text without markup.
        const Text after = WithLinks(before, placed, links);
        const std::vector<std::string> breaks =
            testing::LinkRuleBreaks(before, after, checked, rules.ownKeyword, rules.maxLinks);
        ASSERT_TRUE(breaks.empty()) << breaks.front() << "\nkeyword " << rules.ownKeyword << ", at most "
                                    << rules.maxLinks << "\n"
                                    << before << "\n->\n"
                                    << after;
    }
    EXPECT_GT(placedSome, 1500);  // the rounds did place links, not just leave articles alone
}

}  // namespace
}  // namespace qj

// The fingerprint's promises, over many made-up articles: an article is at distance 0 from itself
// however it is laid out, a small edit moves few bits, unrelated articles lie far apart.

#include "checks/fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "random_articles.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

constexpr int kArticles = 300;
constexpr std::size_t kLength = 1500;

// Layout that is no content: paragraphs as HTML, blanks, other punctuation, letters in other cases.
TEST(FingerprintTest, AnArticleIsAtDistanceZeroFromItselfHoweverItIsLaidOut) {
    std::mt19937 random(1);
    for (int n = 0; n < 50; ++n) {
        const Text article = testing::RandomArticle(random, kLength) + "GPT-4o 2024";
        const Fingerprint fingerprint = ArticleFingerprint(article);
        EXPECT_EQ(FingerprintDistance(fingerprint, fingerprint), 0);
        Text html = "<p>" + ReplaceAll(article, "\r\n", "</p>\r\n<p>") + "</p>";
        EXPECT_EQ(ArticleFingerprint(html), fingerprint);
        Text relaid = ReplaceAll(ReplaceAll(article, "。", "！ "), "\r\n", "\r\n\r\n　　");
        relaid = ReplaceAll(ReplaceAll(relaid, "GPT", "ｇｐｔ"), "2024", "２０２４");
        EXPECT_EQ(ArticleFingerprint(relaid), fingerprint);
    }
    EXPECT_EQ(ArticleFingerprint(""), 0u);
    EXPECT_EQ(ArticleFingerprint("，。 \r\n<p></p>"), 0u);
    EXPECT_NE(ArticleFingerprint("甲"), ArticleFingerprint("乙"));
}

TEST(FingerprintTest, SmallEditsMoveFewBitsAndUnrelatedArticlesMany) {
    std::mt19937 random(2);
    std::vector<Text> articles;
    int editedTotal = 0, editedMost = 0, sentenceTotal = 0;
    for (int n = 0; n < kArticles; ++n) {
        const Text article = testing::RandomArticle(random, kLength);
        articles.push_back(article);
        // One character replaced.
        Text edited = article;
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, article.size() / 2 - 1)(random) * 2;
        if (static_cast<unsigned char>(edited[at]) >= 0xB0) {
            edited.replace(at, 2, testing::RandomHanzi(random));
        }
        const int d = FingerprintDistance(ArticleFingerprint(article), ArticleFingerprint(edited));
        editedTotal += d;
        editedMost = std::max(editedMost, d);
        // A sentence of about twenty characters added.
        const Text longer = article + "\r\n" + testing::RandomArticle(random, 20);
        sentenceTotal += FingerprintDistance(ArticleFingerprint(article), ArticleFingerprint(longer));
    }
    EXPECT_LE(editedTotal, kArticles * 15 / 10) << "mean distance after one character changed";
    EXPECT_LE(editedMost, 8);
    EXPECT_LE(sentenceTotal, kArticles * 4) << "mean distance after a sentence was added";

    int unrelatedTotal = 0, unrelatedLeast = 64;
    for (int n = 0; n + 1 < kArticles; ++n) {
        const int d = FingerprintDistance(ArticleFingerprint(articles[n]), ArticleFingerprint(articles[n + 1]));
        unrelatedTotal += d;
        unrelatedLeast = std::min(unrelatedLeast, d);
    }
    EXPECT_GE(unrelatedLeast, 14);
    EXPECT_NEAR(unrelatedTotal / double(kArticles - 1), 32.0, 3.0);
}

}  // namespace
}  // namespace qj

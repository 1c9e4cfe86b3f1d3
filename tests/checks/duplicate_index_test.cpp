// The index of fingerprints: its lookup by blocks finds exactly what comparing with every
// fingerprint finds, and over a real folder it follows what the user does to the articles.

#include "checks/duplicate_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "random_articles.h"
#include "temporary_home.h"

namespace qj {
namespace {

// Fingerprints in clusters (a few bits flipped from an earlier one) and alone, admitted one by one
// while their articles are being written: each answer must be the one a comparison with all gives.
TEST(DuplicateIndexTest, TheBlockLookupFindsWhatComparingWithEveryFingerprintFinds) {
    std::mt19937_64 random(3);
    for (const int maxDistance : {0, 1, 2, 3, 5, 10}) {
        DuplicateIndex index("/nonexistent/", "/nonexistent/index.txt", maxDistance);
        std::vector<Fingerprint> admitted;
        int duplicates = 0;
        for (int n = 0; n < 3000; ++n) {
            Fingerprint fingerprint = random();
            if (!admitted.empty() && random() % 2) {
                fingerprint = admitted[random() % admitted.size()];
                for (int flips = static_cast<int>(random() % 13); flips > 0; --flips) {
                    fingerprint ^= Fingerprint{1} << (random() % 64);
                }
            }
            int closest = 65;
            for (const Fingerprint other : admitted) {
                closest = std::min(closest, FingerprintDistance(other, fingerprint));
            }
            const std::optional<NearDuplicate> found =
                index.Admit(fingerprint, std::to_string(n) + ".txt", std::to_string(admitted.size()));
            ASSERT_EQ(found.has_value(), closest <= maxDistance) << maxDistance << " " << n;
            if (found) {
                EXPECT_EQ(found->distance, closest);
                EXPECT_EQ(FingerprintDistance(admitted.at(std::stoul(found->keyword)), fingerprint), closest);
                ++duplicates;
            } else {
                admitted.push_back(fingerprint);
            }
        }
        EXPECT_GT(duplicates, 50) << maxDistance;
        EXPECT_EQ(index.size(), admitted.size());
    }
}

class DuplicateFolderTest : public ::testing::Test {
protected:
    Text Folder() const { return ProgramPath("OpenAi/生成内容/"); }
    Text IndexFile() const { return ProgramPath("OpenAi/文章指纹.txt"); }
    void Write(const Text& name, const Text& article) {
        ASSERT_TRUE(EnsureFolder(Folder()));
        ASSERT_TRUE(ReplaceFileContents(Folder() + name, article));
    }
    Text Article(int seed) {
        std::mt19937 random(seed);
        return testing::RandomArticle(random, 800);
    }
    // A copy with one character changed: a near duplicate.
    static Text Edited(Text article) {
        article.replace(article.size() / 2 & ~std::size_t{1}, 2, "变");
        return article;
    }

    testing::TemporaryHome home_;
};

TEST_F(DuplicateFolderTest, TheIndexFollowsTheFolderAndAnEarlierArticleCountsOnlyAsItIsNow) {
    {
        DuplicateIndex empty(Folder(), IndexFile(), 3);
        EXPECT_EQ(empty.Open().articles, 0u);
        EXPECT_FALSE(std::filesystem::exists(NativePath(ProgramPath("OpenAi"))));  // nothing made
    }
    Write("甲.txt", Article(1));
    Write("甲_乙~22077c91.txt", "<p>" + Article(2) + "</p>");
    Write("丙.txt", Article(3));
    Write(".qingjian-x.part", Article(4));
    Write("说明.md", Article(5));
    {
        DuplicateIndex index(Folder(), IndexFile(), 3);
        const DuplicateIndex::Opened opened = index.Open();
        EXPECT_FALSE(opened.error);
        EXPECT_EQ(opened.articles, 3u);
        EXPECT_EQ(opened.read, 3u);
        const std::optional<NearDuplicate> found = index.Admit(ArticleFingerprint(Edited(Article(2))), "丁.txt", "丁");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->keyword, "甲_乙");
        EXPECT_EQ(found->fileName, "甲_乙~22077c91.txt");
        EXPECT_FALSE(index.Admit(ArticleFingerprint(Article(4)), "丁.txt", "丁"));
        // Written during the run: a near copy of it is a duplicate, before and after its file exists.
        EXPECT_EQ(index.Admit(ArticleFingerprint(Edited(Article(4))), "戊.txt", "戊")->keyword, "丁");
        Write("丁.txt", Article(4));
        EXPECT_TRUE(index.Written("丁.txt"));
        EXPECT_EQ(index.Admit(ArticleFingerprint(Edited(Article(4))), "戊.txt", "戊")->keyword, "丁");
        // The same keyword written again replaces its article: no duplicate of itself.
        EXPECT_FALSE(index.Admit(ArticleFingerprint(Edited(Article(4))), "丁.txt", "丁"));
        index.Withdraw("丁.txt");  // not written after all: the article there counts again
        EXPECT_EQ(index.Admit(ArticleFingerprint(Edited(Article(4))), "戊.txt", "戊")->keyword, "丁");
        // The user deletes one article and rewrites another during the run.
        std::filesystem::remove(NativePath(Folder() + "甲.txt"));
        Write("丙.txt", Article(6));
        EXPECT_FALSE(index.Admit(ArticleFingerprint(Edited(Article(1))), "己.txt", "己"));
        EXPECT_FALSE(index.Admit(ArticleFingerprint(Edited(Article(3))), "庚.txt", "庚"));
        EXPECT_EQ(index.Admit(ArticleFingerprint(Edited(Article(6))), "辛.txt", "辛")->keyword, "丙");
    }
    // A killed run left half a line; the user deleted an article between runs.
    ASSERT_TRUE(AppendToFile(IndexFile(), "0123456789ab"));
    std::filesystem::remove(NativePath(Folder() + "甲_乙~22077c91.txt"));
    {
        DuplicateIndex index(Folder(), IndexFile(), 3);
        const DuplicateIndex::Opened opened = index.Open();
        EXPECT_EQ(opened.read, 0u);
        EXPECT_EQ(opened.dropped, 2u);
        EXPECT_EQ(opened.articles, 2u);
        EXPECT_FALSE(index.Admit(ArticleFingerprint(Edited(Article(2))), "壬.txt", "壬"));
        EXPECT_TRUE(index.Admit(ArticleFingerprint(Edited(Article(4))), "壬.txt", "壬"));
    }
    // Up to date now: the next run reads no article and leaves the index file as it is.
    const Bytes before = ReadFileBytes(IndexFile()).value();
    EXPECT_TRUE(before.starts_with(Text(DuplicateIndex::kHeader) + "\r\n"));
    DuplicateIndex index(Folder(), IndexFile(), 3);
    const DuplicateIndex::Opened opened = index.Open();
    EXPECT_EQ(opened.read, 0u);
    EXPECT_EQ(opened.articles, 2u);
    EXPECT_EQ(ReadFileBytes(IndexFile()).value(), before);
}

}  // namespace
}  // namespace qj

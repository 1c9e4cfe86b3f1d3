// The word list's one pass against the plainest search there is, over many random texts whose
// bytes invite every mistake: words that a character's trail byte and the next lead byte would
// spell, an ASCII word equal to a trail byte, letters in either case, overlapping words.

#include "checks/banned_words.h"

#include <gtest/gtest.h>

#include <random>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"

namespace qj {
namespace {

// Units the texts and words are made of: "啊阿" holds the bytes of "“" across its two characters,
// "丂" ends in the byte "@".
const std::vector<Text> kUnits = {"啊", "阿", "“", "中", "丂", "@", "a", "B", "b", "A"};

Text Folded(const Text& text) {
    Text folded = text;
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t length = GbkUnitLength(folded, i);
        if (length == 1) {
            folded[i] = LowerAscii(folded[i]);
        }
        i += length;
    }
    return folded;
}

// Unit by unit from the left: the longest word that starts here and ends on a unit boundary.
BannedWords::Result Reference(const Text& text, const std::vector<BannedWord>& words) {
    BannedWords::Result result;
    const Text folded = Folded(text);
    std::vector<bool> boundary(text.size() + 1, false);
    for (std::size_t i = 0; i < text.size(); i += GbkUnitLength(text, i)) {
        boundary[i] = true;
    }
    boundary[text.size()] = true;
    std::vector<Text> named;
    for (std::size_t i = 0; i < text.size();) {
        const BannedWord* best = nullptr;
        for (const BannedWord& w : words) {
            const Text word = Folded(w.word);
            if (folded.compare(i, word.size(), word) == 0 && i + word.size() <= text.size() &&
                boundary[i + word.size()] && (!best || word.size() > best->word.size())) {
                best = &w;
            }
        }
        if (!best) {
            const std::size_t length = GbkUnitLength(text, i);
            result.text += text.substr(i, length);
            i += length;
            continue;
        }
        const Text seen = text.substr(i, best->word.size());
        if (best->replacement) {
            result.text += *best->replacement;
            ++result.replaced;
        } else {
            result.text += seen;
            bool again = false;
            for (const Text& n : named) {
                again = again || Folded(n) == Folded(seen);
            }
            if (!again) {
                named.push_back(seen);
                result.found.push_back(seen);
            }
        }
        i += best->word.size();
    }
    return result;
}

TEST(BannedWordsTest, OnePassFindsWhatTheUnitByUnitSearchFinds) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> unit(0, kUnits.size() - 1);
    int found = 0, replaced = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<BannedWord> words;
        const int count = std::uniform_int_distribution<int>(1, 6)(random);
        for (int w = 0; w < count; ++w) {
            BannedWord word;
            const int length = std::uniform_int_distribution<int>(1, 3)(random);
            for (int u = 0; u < length; ++u) {
                word.word += kUnits[unit(random)];
            }
            if (random() % 2) {
                word.replacement = std::to_string(w) + ">";
            }
            bool listed = false;
            for (const BannedWord& other : words) {
                listed = listed || Folded(other.word) == Folded(word.word);
            }
            if (!listed) {  // as ReadBannedWords keeps them
                words.push_back(word);
            }
        }
        Text text;
        const int length = std::uniform_int_distribution<int>(0, 40)(random);
        for (int u = 0; u < length; ++u) {
            text += kUnits[unit(random)];
        }
        const BannedWords::Result expected = Reference(text, words);
        const BannedWords::Result got = BannedWords(words).Apply(text);
        ASSERT_EQ(got.text, expected.text) << "text " << AnsiToUtf8(text);
        ASSERT_EQ(got.found, expected.found) << "text " << AnsiToUtf8(text);
        ASSERT_EQ(got.replaced, expected.replaced) << "text " << AnsiToUtf8(text);
        found += static_cast<int>(got.found.size());
        replaced += got.replaced;
    }
    EXPECT_GT(found, 1000);  // the texts did hold words to find
    EXPECT_GT(replaced, 1000);
}

TEST(BannedWordsTest, AWordFileOfEitherEncodingListsWordsAndReplacements) {
    const Text gbk = "  赌博 \r\n\r\n代开发票=开具发票\r\n 刷单 ＝ 推广\r\n赌博=重复的行不算\r\n=无词\r\nVPN=\n";
    for (const Bytes& file : {Bytes(gbk), "\xEF\xBB\xBF" + AnsiToUtf8(gbk), AnsiToUtf8(gbk)}) {
        const std::vector<BannedWord> words = ReadBannedWords(file);
        ASSERT_EQ(words.size(), 4u);
        EXPECT_EQ(words[0].word, "赌博");
        EXPECT_FALSE(words[0].replacement);
        EXPECT_EQ(words[1].word, "代开发票");
        EXPECT_EQ(words[1].replacement, "开具发票");
        EXPECT_EQ(words[2].word, "刷单");
        EXPECT_EQ(words[2].replacement, "推广");
        EXPECT_EQ(words[3].word, "VPN");
        EXPECT_EQ(words[3].replacement, "");
        const BannedWords::Result result = BannedWords(words).Apply("可以代开发票，用vpn刷单，禁止赌博。赌博！");
        EXPECT_EQ(result.text, "可以开具发票，用推广，禁止赌博。赌博！");
        EXPECT_EQ(result.found, std::vector<Text>{"赌博"});
        EXPECT_EQ(result.replaced, 3);
    }
}

}  // namespace
}  // namespace qj

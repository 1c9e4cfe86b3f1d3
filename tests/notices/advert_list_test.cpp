// An advert line's title and address, the colours of the rows, and which addresses may be opened.

#include "notices/advert_list.h"

#include <gtest/gtest.h>

#include <set>

namespace qj {
namespace {

TEST(ParseAdvertLine, TitleBeforeTheFirstSeparatorAddressBehindTheLast) {
    const std::pair<Text, AdvertLine> cases[] = {
        {"标题----https://x.test/", {"标题", "https://x.test/"}},
        {"a----b----c", {"a", "c"}},
        {"no separator", {"", ""}},
        {"title----", {"title", ""}},
        {"----https://only.test/", {"", "https://only.test/"}},
        {"", {"", ""}},
    };
    for (const auto& [line, expected] : cases) {
        const AdvertLine advert = ParseAdvertLine(line);
        EXPECT_EQ(advert.title, expected.title) << line;
        EXPECT_EQ(advert.address, expected.address) << line;
    }
}

TEST(AdvertColours, DrawsCoverOneToFiveAndMapToTheTable) {
    std::set<int> seen;
    for (int i = 0; i < 500; ++i) {
        const int draw = DrawAdvertColourNumber();
        ASSERT_GE(draw, 1);
        ASSERT_LE(draw, 5);
        seen.insert(draw);
    }
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_EQ(AdvertColour(1), RgbColour(255, 0, 0));
    EXPECT_EQ(AdvertColour(2), RgbColour(0, 0, 255));
    EXPECT_EQ(AdvertColour(3), RgbColour(144, 0, 255));
    EXPECT_EQ(AdvertColour(4), RgbColour(0, 255, 0));
    EXPECT_EQ(AdvertColour(5), RgbColour(0, 0, 0));
}

TEST(IsWebAddress, HttpAndHttpsOnly) {
    EXPECT_TRUE(IsWebAddress("http://x"));
    EXPECT_TRUE(IsWebAddress("Https://x.test/a?b=c"));
    EXPECT_FALSE(IsWebAddress("https://"));
    EXPECT_FALSE(IsWebAddress(" http://x"));
    EXPECT_FALSE(IsWebAddress("ftp://x"));
    EXPECT_FALSE(IsWebAddress("javascript:alert(1)"));
    EXPECT_FALSE(IsWebAddress("C:\\Windows\\System32\\calc.exe"));
    EXPECT_FALSE(IsWebAddress(""));
}

}  // namespace
}  // namespace qj

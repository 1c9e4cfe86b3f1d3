// An advert line's title and address, and which addresses may be opened.

#include "notices/advert_list.h"

#include <gtest/gtest.h>

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

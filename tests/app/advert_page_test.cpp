// The advert list of the business page: rows, titles, colours and addresses from the published text,
// page switches (also while a fill is under way), and what a double-click opens.

#include "notices/advert_list.h"

#include <gtest/gtest.h>

#include <set>

#include "app/handlers.h"
#include "app/process_state.h"
#include "notice_window.h"
#include "notices/notice_sources.h"
#include "app/row_colours.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

using testing::NoticeFixture;
using Answer = testing::NoticeSite::Answer;

const Text kAdvertText = "\r\n标题一----http://a.test/1\r\n没有分隔的一行\r\n甲----乙----https://c.test/3\r\n";
const TextList kLinks = {"http://a.test/1", "", "https://c.test/3"};
const std::set<Colour> kOwnColourOrDrawn = {0x0000FF, 0xFF0000, 0xFF0090, 0x00FF00};

void SwitchTo(WindowModel& window, int page) {
    HandlePageSwitch(window, control::kTabMain, page);
}

// The rows of the advert list as "number|title".
TextList Rows(const WindowModel& window) {
    TextList rows;
    for (int row = 0; row < window.ListRowCount(control::kListAdverts); ++row) {
        rows.push_back(window.ListCellText(control::kListAdverts, row, 0) + "|" +
                       window.ListCellText(control::kListAdverts, row, 1));
    }
    return rows;
}

const TextList kRows = {"1|标题一", "2|", "3|甲"};

TEST(AdvertList, TheBusinessPageFillsRowsFromThePublishedText) {
    NoticeFixture f({200, kAdvertText}, {200, "v"});
    f.window.ListAddRow(control::kListAdverts, "stale");
    SwitchTo(f.window, page::kBusiness);

    EXPECT_EQ(Rows(f.window), kRows);
    EXPECT_EQ(AdvertLinks().Items(), kLinks);
    EXPECT_EQ(f.secondary.AdvertHits(), 1);
    EXPECT_EQ(f.main.AdvertHits(), 0);
    for (int row = 0; row < 3; ++row) {
        // Column 1 carries a colour of the table on the list's own background, or, for black, the
        // list's own colours; column 0 is never coloured.
        const auto colours = f.window.ListCellColours(control::kListAdverts, row, 1);
        const std::optional<RowColourEntry> entry = RowColours().Find(row, 1);
        ASSERT_EQ(colours.has_value(), entry.has_value()) << row;
        if (colours) {
            EXPECT_TRUE(kOwnColourOrDrawn.count(colours->first)) << row;
            EXPECT_EQ(colours->second, f.window.ListBackgroundColour(control::kListAdverts));
            EXPECT_EQ(entry->text, colours->first);
        }
        EXPECT_FALSE(f.window.ListCellColours(control::kListAdverts, row, 0).has_value());
    }
}

TEST(AdvertList, SwitchingToTheBusinessPageAgainShowsTheSameRows) {
    NoticeFixture f({200, kAdvertText}, {200, "v"});
    SwitchTo(f.window, page::kBusiness);
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(Rows(f.window), kRows);
    EXPECT_EQ(AdvertLinks().Items(), kLinks);

    // Another page empties the list without asking anything.
    SwitchTo(f.window, page::kChatGpt);
    EXPECT_EQ(f.window.AdvertRows(), 0);
    SwitchTo(f.window, page::kUsage);
    EXPECT_EQ(f.secondary.AdvertHits(), 2);

    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(Rows(f.window), kRows);
    f.window.SetNumber(control::kListAdverts, kPropListSelection, 2);
    HandleDoubleClick(f.window, control::kListAdverts);
    EXPECT_EQ(f.window.OpenedTargets(), TextList{"https://c.test/3"});
}

TEST(AdvertList, WithoutTheSitesTheBuiltInAdvertsAreShown) {
    NoticeFixture f({404, ""}, {404, ""});
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(f.main.AdvertHits(), 1);
    const TextList lines = SplitText(BuiltInAdvertText(f.main.Origin()), "\r\n");
    ASSERT_EQ(f.window.AdvertRows(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(f.window.ListCellText(control::kListAdverts, row, 0), std::to_string(row + 1));
        EXPECT_EQ(f.window.ListCellText(control::kListAdverts, row, 1), ParseAdvertLine(lines[row]).title);
        EXPECT_EQ(AdvertLinks().At(row), ParseAdvertLine(lines[row]).address);
    }
}

TEST(AdvertList, ATextOfLineBreaksAloneGivesNoRows) {
    NoticeFixture f({200, "\r\n"}, {200, "v"});
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(f.window.AdvertRows(), 0);
    EXPECT_EQ(AdvertLinks().Size(), 0u);
}

TEST(AdvertList, ASwitchDuringTheFetchLeavesOneCompleteFill) {
    NoticeFixture f({200, kAdvertText, 300}, {200, "v"});
    f.window.ActMeanwhile([&] { return f.secondary.AdvertHits() == 1; },
                          [&] {
                              f.secondary.SetAdverts({200, kAdvertText});
                              SwitchTo(f.window, page::kBusiness);
                          });
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(f.secondary.AdvertHits(), 2);
    EXPECT_EQ(Rows(f.window), kRows);
    EXPECT_EQ(AdvertLinks().Items(), kLinks);
}

TEST(AdvertList, ASwitchAwayDuringTheFetchLeavesTheListEmpty) {
    NoticeFixture f({200, kAdvertText, 300}, {200, "v"});
    f.window.ActMeanwhile([] { return true; }, [&] { SwitchTo(f.window, page::kChatGpt); });
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(f.window.AdvertRows(), 0);
    EXPECT_EQ(AdvertLinks().Size(), 0u);
}

TEST(AdvertList, ASwitchBetweenRowsStopsTheEarlierFill) {
    NoticeFixture f({200, kAdvertText}, {200, "v"});
    f.window.ActMeanwhile([&] { return f.window.AdvertRows() == 1; }, [&] { SwitchTo(f.window, page::kBusiness); });
    SwitchTo(f.window, page::kBusiness);
    EXPECT_EQ(Rows(f.window), kRows);
    EXPECT_EQ(AdvertLinks().Items(), kLinks);
}

TEST(OpenAdvert, OpensOnlyTheWebAddressOfASelectedRow) {
    NoticeFixture f({200,
                     "网页----http://a.test/1\r\n本地文件----file:///etc/passwd\r\n程序----/usr/bin/xterm\r\n"
                     "大写----HTTPS://B.TEST/\r\n空地址----http://\r\n没有地址----"},
                    {200, "v"});
    SwitchTo(f.window, page::kBusiness);
    ASSERT_EQ(f.window.AdvertRows(), 6);
    f.window.ListAddRow(control::kListAdverts, "7");  // a row without an address

    const auto open = [&](long long row) {
        f.window.SetNumber(control::kListAdverts, kPropListSelection, row);
        HandleDoubleClick(f.window, control::kListAdverts);
    };
    open(-1);
    for (int row = 0; row < 7; ++row) {
        open(row);
    }
    EXPECT_EQ(f.window.OpenedTargets(), (TextList{"http://a.test/1", "HTTPS://B.TEST/"}));

    AdvertLinks().Clear();
    open(0);
    EXPECT_EQ(f.window.OpenedTargets().size(), 2u);
}

}  // namespace
}  // namespace qj

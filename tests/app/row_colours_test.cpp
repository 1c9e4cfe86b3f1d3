// Cell colours of a report list: the table keeps what differs from the list's own colours and the
// window shows it; the colours of the advert rows.

#include "app/row_colours.h"

#include <gtest/gtest.h>

#include <set>

#include "app/main_window_controls.h"
#include "notices/advert_list.h"
#include "window/memory_window.h"
#include "app/control_names.h"

namespace qj {
namespace {

constexpr Colour kRed = 0x0000FF;
constexpr Colour kBlue = 0xFF0000;
constexpr Colour kYellow = 0x00FFFF;

class RowColoursTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            window_.ListAddRow(list_, std::to_string(i + 1));
        }
    }

    std::optional<std::pair<Colour, Colour>> Shown(int row, int column) {
        return window_.ListCellColours(list_, row, column);
    }

    RowColourTable colours_;
    MemoryWindow window_{MainWindowLayout().controls};
    const Text list_ = control::kListAdverts;
    const Colour ownText_ = window_.ListTextColour(list_);
    const Colour ownBackground_ = window_.ListBackgroundColour(list_);
};

TEST_F(RowColoursTest, SetOverwriteAndDeleteWhenEqualToTheListsOwn) {
    SetListRowColour(window_, colours_, list_, 0, 1, kRed);
    SetListRowColour(window_, colours_, list_, 2, 1, kBlue, kYellow);
    EXPECT_EQ(colours_.Entries(), (std::vector<RowColourEntry>{{0, 1, kRed, ownBackground_}, {2, 1, kBlue, kYellow}}));
    EXPECT_EQ(Shown(0, 1), std::make_pair(kRed, ownBackground_));
    EXPECT_EQ(Shown(2, 1), std::make_pair(kBlue, kYellow));
    EXPECT_FALSE(Shown(1, 1).has_value());

    // Overwritten in place, the order of entries kept.
    SetListRowColour(window_, colours_, list_, 0, 1, kBlue, kRed);
    EXPECT_EQ(colours_.Entries(), (std::vector<RowColourEntry>{{0, 1, kBlue, kRed}, {2, 1, kBlue, kYellow}}));
    EXPECT_EQ(Shown(0, 1), std::make_pair(kBlue, kRed));

    // The list's own colours delete the entry, and the cell shows the list's colours again.
    SetListRowColour(window_, colours_, list_, 0, 1, ownText_);
    EXPECT_EQ(colours_.Entries(), (std::vector<RowColourEntry>{{2, 1, kBlue, kYellow}}));
    EXPECT_FALSE(Shown(0, 1).has_value());

    // The list's own colours on a cell without an entry add none; one of the two differing does.
    SetListRowColour(window_, colours_, list_, 1, 0, ownText_, ownBackground_);
    EXPECT_EQ(colours_.Entries().size(), 1u);
    SetListRowColour(window_, colours_, list_, 1, 0, ownText_, kYellow);
    EXPECT_EQ(colours_.Find(1, 0), (RowColourEntry{1, 0, ownText_, kYellow}));
    EXPECT_EQ(Shown(1, 0), std::make_pair(ownText_, kYellow));
}

TEST_F(RowColoursTest, EntriesOutliveTheirRowsUntilReleased) {
    SetListRowColour(window_, colours_, list_, 2, 1, kRed);
    window_.ListClear(list_);
    EXPECT_EQ(colours_.Entries().size(), 1u);
    // A row colour for a row the list does not have is recorded all the same.
    SetListRowColour(window_, colours_, list_, 7, 1, kBlue);
    EXPECT_EQ(colours_.Find(7, 1), (RowColourEntry{7, 1, kBlue, ownBackground_}));
    colours_.Release();
    EXPECT_TRUE(colours_.Entries().empty());
    EXPECT_FALSE(colours_.Find(2, 1).has_value());
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

}  // namespace
}  // namespace qj

#pragma once

// What every window must do as a window model, written once against WindowModel and run against
// each implementation, so that the core meets the same window in the batch mode, on the desktop and
// on every platform. A window joins with a maker and one line in its own tests:
//
//   struct MyWindowMaker {
//       static std::unique_ptr<WindowModel> Make(const WindowLayout& layout);
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyWindow, WindowConformance, MyWindowMaker);
//
// Texts are GBK bytes written as escapes, so that the suite reads the same whether its test
// program compiles literals as GBK (the core) or as UTF-8 (a toolkit's window).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "window/control_names.h"
#include "window/control_table.h"
#include "window/window_model.h"

namespace qj::testing {

inline constexpr const char* kConformanceCombo = "\xD7\xE9\xBA\xCF\xBF\xF2_\xBC\xD7";  // 组合框_甲

// A window with a control of every kind: two edit boxes (one line, several lines), radio boxes of
// two groups, a combo box, a report list, a tab control and a progress bar.
inline const WindowLayout& ConformanceLayout() {
    static constexpr const char* kPages[] = {"\xD2\xBB", "\xB6\xFE", "\xC8\xFD"};  // 一 二 三
    static constexpr ListColumn kColumns[] = {{.header = "#", .width = 40}, {.header = "title", .width = 200}};
    static const ControlRow kControls[] = {
        {.name = control::kEditOpenAiKey, .kind = kind::kEdit},
        {.name = control::kEditLatestVersion, .kind = kind::kEdit, .multiLine = true},
        {.name = control::kButtonStart, .kind = kind::kButton, .caption = "\xBF\xAA\xCA\xBC"},  // 开始
        {.name = control::kCheckPreview, .kind = kind::kCheck},
        {.name = control::kGroupUpdate, .kind = kind::kGroup},
        {.name = control::kRadioInterfaceOne, .kind = kind::kRadio, .parent = control::kGroupUpdate, .checked = true},
        {.name = control::kRadioInterfaceTwo, .kind = kind::kRadio, .parent = control::kGroupUpdate},
        {.name = control::kRadioInterfaceThree, .kind = kind::kRadio},
        {.name = control::kLabelCredit, .kind = kind::kLabel, .caption = "\xB1\xEA\xCC\xE2"},  // 标题
        {.name = kConformanceCombo, .kind = kind::kCombo},
        {.name = control::kListAdverts, .kind = kind::kList, .columns = kColumns},
        {.name = control::kTabMain, .kind = kind::kTab, .pages = kPages, .shownPage = 1},
        {.name = control::kProgressRun, .kind = kind::kProgress},
    };
    static const WindowLayout layout{.title = "conformance", .controls = kControls};
    return layout;
}

template <class Maker>
class WindowConformance : public ::testing::Test {
protected:
    WindowConformance() : window_(Maker::Make(ConformanceLayout())) {}
    WindowModel& window() { return *window_; }

private:
    std::unique_ptr<WindowModel> window_;
};

TYPED_TEST_SUITE_P(WindowConformance);

TYPED_TEST_P(WindowConformance, ControlsAreFoundByNameAndKindInTableOrder) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.ControlsOfKind(kind::kEdit), (std::vector<Text>{control::kEditOpenAiKey, control::kEditLatestVersion}));
    EXPECT_EQ(
        w.ControlsOfKind(kind::kRadio),
        (std::vector<Text>{control::kRadioInterfaceOne, control::kRadioInterfaceTwo, control::kRadioInterfaceThree}));
    EXPECT_EQ(w.ControlsOfKind(kind::kCombo), std::vector<Text>{kConformanceCombo});
    EXPECT_TRUE(w.ControlsOfKind("gadget").empty());
    EXPECT_TRUE(w.HasControl(control::kProgressRun));
    EXPECT_FALSE(w.HasControl(control::kButtonStop));
}

TYPED_TEST_P(WindowConformance, PropertiesByNumber) {
    WindowModel& w = this->window();
    w.SetNumber(control::kButtonStart, kPropDisabled, 1);
    EXPECT_EQ(w.GetNumber(control::kButtonStart, kPropDisabled), 1);
    w.SetNumber(control::kButtonStart, kPropDisabled, 0);
    EXPECT_EQ(w.GetNumber(control::kButtonStart, kPropDisabled), 0);

    EXPECT_EQ(w.GetText(control::kButtonStart, kPropCaption), "\xBF\xAA\xCA\xBC");  // 开始
    w.SetText(control::kButtonStart, kPropCaption, "\xB2\xE9\xD1\xAF\xD6\xD0..");   // 查询中..
    EXPECT_EQ(w.GetText(control::kButtonStart, kPropCaption), "\xB2\xE9\xD1\xAF\xD6\xD0..");
    EXPECT_EQ(w.GetText(control::kLabelCredit, kPropContent), "\xB1\xEA\xCC\xE2");  // 标题

    // The radio boxes of a group exclude each other; either may also be unchecked outright. A
    // radio box of another parent is another group.
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceOne, kPropChecked), 1);
    w.SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceOne, kPropChecked), 1);
    w.SetNumber(control::kRadioInterfaceTwo, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceThree, kPropChecked), 1);
    w.SetNumber(control::kRadioInterfaceTwo, kPropChecked, 0);
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceTwo, kPropChecked), 0);
    EXPECT_EQ(w.GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
    w.SetNumber(control::kCheckPreview, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(control::kCheckPreview, kPropChecked), 1);

    // Multi-line edit boxes hold CR LF line ends; a zero byte ends a text.
    w.SetText(control::kEditLatestVersion, kPropContent, "\xD2\xBB\r\n\xB6\xFE\r\n");  // 一 二
    EXPECT_EQ(w.GetText(control::kEditLatestVersion, kPropContent), "\xD2\xBB\r\n\xB6\xFE\r\n");
    w.SetText(control::kEditOpenAiKey, kPropContent, std::string("sk\0hidden", 9));
    EXPECT_EQ(w.GetText(control::kEditOpenAiKey, kPropContent), "sk");
    // No edit box cuts a long text: what the settings file gives back is what the user wrote.
    const Text longText(50000, 'k');
    for (const char* name : {control::kEditOpenAiKey, control::kEditLatestVersion}) {
        w.SetText(name, kPropContent, longText);
        EXPECT_EQ(w.GetText(name, kPropContent), longText) << name;
    }

    // A name that is no control, or a property the control lacks, reads empty and writes nothing.
    const Text nothing = "\xC3\xBB\xD3\xD0\xD5\xE2\xB8\xF6\xBF\xD8\xBC\xFE";  // 没有这个控件
    w.SetText(nothing, kPropContent, "x");
    w.SetNumber(nothing, kPropChecked, 1);
    EXPECT_EQ(w.GetText(nothing, kPropContent), "");
    EXPECT_EQ(w.GetNumber(nothing, kPropChecked), 0);
    EXPECT_EQ(w.GetText(control::kButtonStart, 99), "");
    EXPECT_EQ(w.GetNumber(control::kButtonStart, 99), 0);
}

TYPED_TEST_P(WindowConformance, TheTitleIsTheCaptionOfTheWindowItself) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.GetText(kWindowItself, kPropCaption), "conformance");
    w.SetText(kWindowItself, kPropCaption, std::string("\xC7\xE0\xBC\xE3 - 1\0x", 10));  // 青笺 - 1
    EXPECT_EQ(w.GetText(kWindowItself, kPropCaption), "\xC7\xE0\xBC\xE3 - 1");
}

// A key pasted with its line break must not reach a request header or split a settings line.
TYPED_TEST_P(WindowConformance, OnlyMultiLineEditBoxesKeepLineBreaksHoweverTheTextArrives) {
    WindowModel& w = this->window();
    for (const ControlRow& row : ConformanceLayout().controls) {
        if (Text(row.kind) != kind::kEdit) {
            continue;
        }
        SCOPED_TRACE(row.name);
        w.SetText(row.name, kPropContent, "\xBC\xD7\r\n\xD2\xD2\r\n");  // 甲 乙
        w.AppendText(row.name, "\xB1\xFB\r\n");                         // 丙
        EXPECT_EQ(w.GetText(row.name, kPropContent),
                  IsSingleLineEdit(row) ? "\xBC\xD7\xD2\xD2\xB1\xFB" : "\xBC\xD7\r\n\xD2\xD2\r\n\xB1\xFB\r\n");
    }
}

TYPED_TEST_P(WindowConformance, ComboBoxesHoldItemsWithDataASelectionAndAText) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.GetNumber(kConformanceCombo, kPropComboSelection), -1);
    w.ComboAddItem(kConformanceCombo, "\xBC\xD7", 5);  // 甲
    w.ComboAddItem(kConformanceCombo, "B", 7);
    ASSERT_EQ(w.ComboItemCount(kConformanceCombo), 2);
    EXPECT_EQ(w.ComboItemText(kConformanceCombo, 0), "\xBC\xD7");
    EXPECT_EQ(w.ComboItemData(kConformanceCombo, 1), 7);
    w.SetNumber(kConformanceCombo, kPropComboSelection, 1);
    EXPECT_EQ(w.GetNumber(kConformanceCombo, kPropComboSelection), 1);
    EXPECT_EQ(w.GetText(kConformanceCombo, kPropComboText), "B");
    w.SetText(kConformanceCombo, kPropComboText, "\xD7\xD4\xBC\xBA\xCA\xE4\xC8\xEB");  // 自己输入
    EXPECT_EQ(w.GetText(kConformanceCombo, kPropComboText), "\xD7\xD4\xBC\xBA\xCA\xE4\xC8\xEB");
    w.SetNumber(kConformanceCombo, kPropComboSelection, 5);
    EXPECT_EQ(w.GetNumber(kConformanceCombo, kPropComboSelection), -1);
    w.ComboClear(kConformanceCombo);
    EXPECT_EQ(w.ComboItemCount(kConformanceCombo), 0);
}

TYPED_TEST_P(WindowConformance, ListViewsHoldRowsOfCellsAndASelection) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.ListAddRow(control::kListAdverts, "1"), 0);
    const int row = w.ListAddRow(control::kListAdverts, "2");
    EXPECT_EQ(row, 1);
    w.ListSetCellText(control::kListAdverts, row, 1, "\xB9\xE3\xB8\xE6\xD2\xBB");  // 广告一
    EXPECT_EQ(w.ListRowCount(control::kListAdverts), 2);
    EXPECT_EQ(w.ListCellText(control::kListAdverts, row, 0), "2");
    EXPECT_EQ(w.ListCellText(control::kListAdverts, row, 1), "\xB9\xE3\xB8\xE6\xD2\xBB");
    w.ListSetCellColours(control::kListAdverts, row, 1, RgbColour(0xFF, 0, 0), RgbColour(0, 0, 0xFF));
    w.ListSetCellColours(control::kListAdverts, row, 1, std::nullopt, std::nullopt);
    EXPECT_EQ(w.ListTextColour(control::kListAdverts), RgbColour(0, 0, 0));
    EXPECT_EQ(w.ListBackgroundColour(control::kListAdverts), RgbColour(0xFF, 0xFF, 0xFF));

    w.SetNumber(control::kListAdverts, kPropListSelection, row);
    EXPECT_EQ(w.GetNumber(control::kListAdverts, kPropListSelection), row);
    w.SetNumber(control::kListAdverts, kPropListSelection, -1);
    EXPECT_EQ(w.GetNumber(control::kListAdverts, kPropListSelection), -1);
    w.ListClear(control::kListAdverts);
    EXPECT_EQ(w.ListRowCount(control::kListAdverts), 0);
    EXPECT_EQ(w.ListCellText(control::kListAdverts, 0, 0), "");
}

TYPED_TEST_P(WindowConformance, TabControlsShowThePageTheyAreGiven) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.CurrentTabPage(control::kTabMain), 1);
    w.SetCurrentTabPage(control::kTabMain, 2);
    EXPECT_EQ(w.CurrentTabPage(control::kTabMain), 2);
    w.SetCurrentTabPage(control::kTabMain, 3);
    EXPECT_EQ(w.CurrentTabPage(control::kTabMain), 2);
}

TYPED_TEST_P(WindowConformance, ProgressBarsShowAValueOfAMaximum) {
    WindowModel& w = this->window();
    w.SetNumber(control::kProgressRun, kPropProgressMaximum, 40);
    w.SetNumber(control::kProgressRun, kPropProgressValue, 10);
    EXPECT_EQ(w.GetNumber(control::kProgressRun, kPropProgressMaximum), 40);
    EXPECT_EQ(w.GetNumber(control::kProgressRun, kPropProgressValue), 10);
    EXPECT_EQ(w.GetNumber(control::kButtonStart, kPropProgressValue), 0);
}

// What a worker posts is there for the window thread's next call, whether the window ran it at once
// or queued it for its own thread. Only edit boxes take appended text.
TYPED_TEST_P(WindowConformance, PostedWorkIsThereForTheWindowThreadsNextCall) {
    WindowModel& w = this->window();
    std::thread worker([&w] {
        w.Post([&w] { w.SetText(control::kEditLatestVersion, kPropContent, "1"); });
        w.Post([&w] { w.AppendText(control::kEditLatestVersion, "2"); });
        w.Post([&w] { w.AppendText(control::kLabelCredit, "2"); });
    });
    worker.join();
    EXPECT_EQ(w.GetText(control::kEditLatestVersion, kPropContent), "12");
    EXPECT_EQ(w.GetText(control::kLabelCredit, kPropContent), "\xB1\xEA\xCC\xE2");  // 标题, as it was
}

REGISTER_TYPED_TEST_SUITE_P(WindowConformance, ControlsAreFoundByNameAndKindInTableOrder, PropertiesByNumber,
                            TheTitleIsTheCaptionOfTheWindowItself,
                            OnlyMultiLineEditBoxesKeepLineBreaksHoweverTheTextArrives,
                            ComboBoxesHoldItemsWithDataASelectionAndAText, ListViewsHoldRowsOfCellsAndASelection,
                            TabControlsShowThePageTheyAreGiven, ProgressBarsShowAValueOfAMaximum,
                            PostedWorkIsThereForTheWindowThreadsNextCall);

}  // namespace qj::testing

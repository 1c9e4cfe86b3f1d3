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

#include "text/text_helpers.h"
#include "window/control_table.h"
#include "window/window_model.h"

namespace qj::testing {

// The controls of the conformance window, by kind.
namespace conformance {
inline constexpr const char* kLine = "\xB1\xE0\xBC\xAD\xBF\xF2_\xB5\xA5\xD0\xD0";  // 编辑框_单行
inline constexpr const char* kLines = "\xB1\xE0\xBC\xAD\xBF\xF2_\xB6\xE0\xD0\xD0";  // 编辑框_多行
inline constexpr const char* kButton = "\xB0\xB4\xC5\xA5_\xBC\xD7";  // 按钮_甲
inline constexpr const char* kCheck = "\xD1\xA1\xD4\xF1\xBF\xF2_\xBC\xD7";  // 选择框_甲
inline constexpr const char* kGroup = "\xB7\xD6\xD7\xE9\xBF\xF2_\xBC\xD7";  // 分组框_甲
inline constexpr const char* kRadioOne = "\xB5\xA5\xD1\xA1\xBF\xF2_\xD2\xBB";  // 单选框_一
inline constexpr const char* kRadioTwo = "\xB5\xA5\xD1\xA1\xBF\xF2_\xB6\xFE";  // 单选框_二
inline constexpr const char* kRadioAlone = "\xB5\xA5\xD1\xA1\xBF\xF2_\xC8\xFD";  // 单选框_三
inline constexpr const char* kLabel = "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xD7";  // 透明标签_甲
inline constexpr const char* kList = "\xB3\xAC\xBC\xB6\xC1\xD0\xB1\xED\xBF\xF2_\xBC\xD7";  // 超级列表框_甲
inline constexpr const char* kTab = "\xD1\xA1\xD4\xF1\xBC\xD0_\xBC\xD7";  // 选择夹_甲
inline constexpr const char* kProgress = "\xBD\xF8\xB6\xC8\xCC\xF5_\xBC\xD7";  // 进度条_甲
inline constexpr const char* kAbsent = "\xB0\xB4\xC5\xA5_\xD2\xD2";  // 按钮_乙
inline constexpr const char* kTail = "\xB1\xE0\xBC\xAD\xBF\xF2_\xCE\xB2\xB2\xBF";  // 编辑框_尾部
}  // namespace conformance

inline constexpr const char* kConformanceCombo = "\xD7\xE9\xBA\xCF\xBF\xF2_\xBC\xD7";  // 组合框_甲

// A window with a control of every kind: two edit boxes (one line, several lines), radio boxes of
// two groups, a combo box, a report list, a tab control and a progress bar.
inline const WindowLayout& ConformanceLayout() {
    static constexpr const char* kPages[] = {"\xD2\xBB", "\xB6\xFE", "\xC8\xFD"};  // 一 二 三
    static constexpr ListColumn kColumns[] = {{.header = "#", .width = 40}, {.header = "title", .width = 200}};
    static const ControlRow kControls[] = {
        {.name = conformance::kLine, .kind = kind::kEdit},
        {.name = conformance::kLines, .kind = kind::kEdit, .multiLine = true},
        {.name = conformance::kButton, .kind = kind::kButton, .caption = "\xBF\xAA\xCA\xBC"},  // 开始
        {.name = conformance::kCheck, .kind = kind::kCheck},
        {.name = conformance::kGroup, .kind = kind::kGroup},
        {.name = conformance::kRadioOne, .kind = kind::kRadio, .parent = conformance::kGroup, .checked = true},
        {.name = conformance::kRadioTwo, .kind = kind::kRadio, .parent = conformance::kGroup},
        {.name = conformance::kRadioAlone, .kind = kind::kRadio},
        {.name = conformance::kLabel, .kind = kind::kLabel, .caption = "\xB1\xEA\xCC\xE2"},  // 标题
        {.name = kConformanceCombo, .kind = kind::kCombo},
        {.name = conformance::kList, .kind = kind::kList, .columns = kColumns},
        {.name = conformance::kTab, .kind = kind::kTab, .pages = kPages, .shownPage = 1},
        {.name = conformance::kProgress, .kind = kind::kProgress},
        {.name = conformance::kTail, .kind = kind::kEdit, .multiLine = true, .keptLines = 3},
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
    EXPECT_EQ(w.ControlsOfKind(kind::kEdit),
              (std::vector<Text>{conformance::kLine, conformance::kLines, conformance::kTail}));
    EXPECT_EQ(
        w.ControlsOfKind(kind::kRadio),
        (std::vector<Text>{conformance::kRadioOne, conformance::kRadioTwo, conformance::kRadioAlone}));
    EXPECT_EQ(w.ControlsOfKind(kind::kCombo), std::vector<Text>{kConformanceCombo});
    EXPECT_TRUE(w.ControlsOfKind("gadget").empty());
    EXPECT_TRUE(w.HasControl(conformance::kProgress));
    EXPECT_FALSE(w.HasControl(conformance::kAbsent));
}

TYPED_TEST_P(WindowConformance, PropertiesByNumber) {
    WindowModel& w = this->window();
    w.SetNumber(conformance::kButton, kPropDisabled, 1);
    EXPECT_EQ(w.GetNumber(conformance::kButton, kPropDisabled), 1);
    w.SetNumber(conformance::kButton, kPropDisabled, 0);
    EXPECT_EQ(w.GetNumber(conformance::kButton, kPropDisabled), 0);

    EXPECT_EQ(w.GetText(conformance::kButton, kPropCaption), "\xBF\xAA\xCA\xBC");  // 开始
    w.SetText(conformance::kButton, kPropCaption, "\xB2\xE9\xD1\xAF\xD6\xD0..");   // 查询中..
    EXPECT_EQ(w.GetText(conformance::kButton, kPropCaption), "\xB2\xE9\xD1\xAF\xD6\xD0..");
    EXPECT_EQ(w.GetText(conformance::kLabel, kPropContent), "\xB1\xEA\xCC\xE2");  // 标题

    // The radio boxes of a group exclude each other; either may also be unchecked outright. A
    // radio box of another parent is another group.
    EXPECT_EQ(w.GetNumber(conformance::kRadioOne, kPropChecked), 1);
    w.SetNumber(conformance::kRadioAlone, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(conformance::kRadioOne, kPropChecked), 1);
    w.SetNumber(conformance::kRadioTwo, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(conformance::kRadioOne, kPropChecked), 0);
    EXPECT_EQ(w.GetNumber(conformance::kRadioAlone, kPropChecked), 1);
    w.SetNumber(conformance::kRadioTwo, kPropChecked, 0);
    EXPECT_EQ(w.GetNumber(conformance::kRadioTwo, kPropChecked), 0);
    EXPECT_EQ(w.GetNumber(conformance::kRadioOne, kPropChecked), 0);
    w.SetNumber(conformance::kCheck, kPropChecked, 1);
    EXPECT_EQ(w.GetNumber(conformance::kCheck, kPropChecked), 1);

    // Multi-line edit boxes hold CR LF line ends; a zero byte ends a text.
    w.SetText(conformance::kLines, kPropContent, "\xD2\xBB\r\n\xB6\xFE\r\n");  // 一 二
    EXPECT_EQ(w.GetText(conformance::kLines, kPropContent), "\xD2\xBB\r\n\xB6\xFE\r\n");
    w.SetText(conformance::kLine, kPropContent, std::string("sk\0hidden", 9));
    EXPECT_EQ(w.GetText(conformance::kLine, kPropContent), "sk");
    // No edit box cuts a long text: what the settings file gives back is what the user wrote.
    const Text longText(50000, 'k');
    for (const char* name : {conformance::kLine, conformance::kLines}) {
        w.SetText(name, kPropContent, longText);
        EXPECT_EQ(w.GetText(name, kPropContent), longText) << name;
    }

    // A name that is no control, or a property the control lacks, reads empty and writes nothing.
    const Text nothing = "\xC3\xBB\xD3\xD0\xD5\xE2\xB8\xF6\xBF\xD8\xBC\xFE";  // 没有这个控件
    w.SetText(nothing, kPropContent, "x");
    w.SetNumber(nothing, kPropChecked, 1);
    EXPECT_EQ(w.GetText(nothing, kPropContent), "");
    EXPECT_EQ(w.GetNumber(nothing, kPropChecked), 0);
    EXPECT_EQ(w.GetText(conformance::kButton, 99), "");
    EXPECT_EQ(w.GetNumber(conformance::kButton, 99), 0);
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
    EXPECT_EQ(w.ListAddRow(conformance::kList, "1"), 0);
    const int row = w.ListAddRow(conformance::kList, "2");
    EXPECT_EQ(row, 1);
    w.ListSetCellText(conformance::kList, row, 1, "\xB9\xE3\xB8\xE6\xD2\xBB");  // 广告一
    EXPECT_EQ(w.ListRowCount(conformance::kList), 2);
    EXPECT_EQ(w.ListCellText(conformance::kList, row, 0), "2");
    EXPECT_EQ(w.ListCellText(conformance::kList, row, 1), "\xB9\xE3\xB8\xE6\xD2\xBB");
    w.ListSetCellColours(conformance::kList, row, 1, RgbColour(0xFF, 0, 0), RgbColour(0, 0, 0xFF));
    w.ListSetCellColours(conformance::kList, row, 1, std::nullopt, std::nullopt);
    EXPECT_EQ(w.ListTextColour(conformance::kList), RgbColour(0, 0, 0));
    EXPECT_EQ(w.ListBackgroundColour(conformance::kList), RgbColour(0xFF, 0xFF, 0xFF));

    w.SetNumber(conformance::kList, kPropListSelection, row);
    EXPECT_EQ(w.GetNumber(conformance::kList, kPropListSelection), row);
    w.SetNumber(conformance::kList, kPropListSelection, -1);
    EXPECT_EQ(w.GetNumber(conformance::kList, kPropListSelection), -1);
    w.ListClear(conformance::kList);
    EXPECT_EQ(w.ListRowCount(conformance::kList), 0);
    EXPECT_EQ(w.ListCellText(conformance::kList, 0, 0), "");
}

TYPED_TEST_P(WindowConformance, TabControlsShowThePageTheyAreGiven) {
    WindowModel& w = this->window();
    EXPECT_EQ(w.CurrentTabPage(conformance::kTab), 1);
    w.SetCurrentTabPage(conformance::kTab, 2);
    EXPECT_EQ(w.CurrentTabPage(conformance::kTab), 2);
    w.SetCurrentTabPage(conformance::kTab, 3);
    EXPECT_EQ(w.CurrentTabPage(conformance::kTab), 2);
}

TYPED_TEST_P(WindowConformance, ProgressBarsShowAValueOfAMaximum) {
    WindowModel& w = this->window();
    w.SetNumber(conformance::kProgress, kPropProgressMaximum, 40);
    w.SetNumber(conformance::kProgress, kPropProgressValue, 10);
    EXPECT_EQ(w.GetNumber(conformance::kProgress, kPropProgressMaximum), 40);
    EXPECT_EQ(w.GetNumber(conformance::kProgress, kPropProgressValue), 10);
    EXPECT_EQ(w.GetNumber(conformance::kButton, kPropProgressValue), 0);
}

// A box that keeps its last lines drops the first ones as more arrive, whichever way they come, and
// only whole lines.
TYPED_TEST_P(WindowConformance, ABoxThatKeepsItsLastLinesDropsTheFirstOnes) {
    WindowModel& w = this->window();
    w.SetText(conformance::kTail, kPropContent, "1\r\n2\r\n3\r\n4\r\n5\r\n");
    EXPECT_EQ(w.GetText(conformance::kTail, kPropContent), "3\r\n4\r\n5\r\n");
    w.AppendText(conformance::kTail, "6\r\n");
    EXPECT_EQ(w.GetText(conformance::kTail, kPropContent), "4\r\n5\r\n6\r\n");
    w.AppendText(conformance::kTail, "7");
    EXPECT_EQ(w.GetText(conformance::kTail, kPropContent), "4\r\n5\r\n6\r\n7");
    w.AppendText(conformance::kTail, "\r\n8\r\n9\r\n");
    EXPECT_EQ(w.GetText(conformance::kTail, kPropContent), "7\r\n8\r\n9\r\n");
    // A box without a bound keeps everything.
    for (int i = 0; i < 10; ++i) {
        w.AppendText(conformance::kLines, "x\r\n");
    }
    EXPECT_EQ(SplitText(w.GetText(conformance::kLines, kPropContent), "\r\n").size(), 10u);
}

// What a worker posts is there for the window thread's next call, whether the window ran it at once
// or queued it for its own thread. Only edit boxes take appended text.
TYPED_TEST_P(WindowConformance, PostedWorkIsThereForTheWindowThreadsNextCall) {
    WindowModel& w = this->window();
    std::thread worker([&w] {
        w.Post([&w] { w.SetText(conformance::kLines, kPropContent, "1"); });
        w.Post([&w] { w.AppendText(conformance::kLines, "2"); });
        w.Post([&w] { w.AppendText(conformance::kLabel, "2"); });
    });
    worker.join();
    EXPECT_EQ(w.GetText(conformance::kLines, kPropContent), "12");
    EXPECT_EQ(w.GetText(conformance::kLabel, kPropContent), "\xB1\xEA\xCC\xE2");  // 标题, as it was
}

REGISTER_TYPED_TEST_SUITE_P(WindowConformance, ControlsAreFoundByNameAndKindInTableOrder, PropertiesByNumber,
                            ABoxThatKeepsItsLastLinesDropsTheFirstOnes,
                            TheTitleIsTheCaptionOfTheWindowItself,
                            OnlyMultiLineEditBoxesKeepLineBreaksHoweverTheTextArrives,
                            ComboBoxesHoldItemsWithDataASelectionAndAText, ListViewsHoldRowsOfCellsAndASelection,
                            TabControlsShowThePageTheyAreGiven, ProgressBarsShowAValueOfAMaximum,
                            PostedWorkIsThereForTheWindowThreadsNextCall);

}  // namespace qj::testing

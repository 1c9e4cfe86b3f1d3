#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "platform/program_folder.h"
#include "settings/ini_file.h"
#include "temporary_home.h"
#include "window/memory_window.h"

namespace qj {
namespace {

using testing::ReadBytes;
using testing::TemporaryHome;
using testing::WriteBytes;

// A small window with two controls of each persistable kind and a few others.
const ControlRow kControls[] = {
    {.name = "编辑框_甲", .kind = kind::kEdit},
    {.name = "选择框_甲", .kind = kind::kCheck},
    {.name = "按钮_甲", .kind = kind::kButton, .caption = "按钮"},
    {.name = "单选框_甲", .kind = kind::kRadio, .parent = "分组框1", .checked = true},
    {.name = "单选框_乙", .kind = kind::kRadio, .parent = "分组框1"},
    {.name = "编辑框_乙", .kind = kind::kEdit, .multiLine = true},
    {.name = "组合框_甲", .kind = kind::kCombo},
    {.name = "选择框_乙", .kind = kind::kCheck},
    {.name = "组合框_乙", .kind = kind::kCombo},
    {.name = "分组框1", .kind = kind::kGroup},
};

class SettingsStoreTest : public ::testing::Test {
protected:
    TemporaryHome home;
    MemoryWindow window{kControls};
    Text path = ProgramPath("store.ini");

    std::string File() const { return ReadBytes(NativePath(path)); }
};

TEST_F(SettingsStoreTest, EscapingTurnsLineBreaksAndQuotesIntoMarks) {
    EXPECT_EQ(EscapeEditContent("a\r\nb\"c\"\r\n"), "a><br><b#引号c#引号><br><");
    EXPECT_EQ(UnescapeEditContent("a><br><b#引号c#引号><br><"), "a\r\nb\"c\"\r\n");
    // A lone CR or LF is no line break of the program's texts and stays.
    EXPECT_EQ(EscapeEditContent("a\nb\rc"), "a\nb\rc");
}

TEST_F(SettingsStoreTest, EditBoxesRoundTripExceptForTheMarkTexts) {
    window.SetText("编辑框_甲", kPropContent, "has ><br>< and #引号 inside");
    window.SetText("编辑框_乙", kPropContent, "第一行\r\n\"第二行\"");
    EXPECT_EQ(SaveEditBoxes(window, path).controlCount, 2);
    EXPECT_EQ(File(),
              "[编辑框]\r\n编辑框_甲=has ><br>< and #引号 inside\r\n编辑框_乙=第一行><br><#引号第二行#引号\r\n");

    MemoryWindow restored{kControls};
    EXPECT_EQ(RestoreEditBoxes(restored, path), 2);
    // The single-line box keeps no line break, not even one its mark text stands for.
    EXPECT_EQ(restored.GetText("编辑框_甲", kPropContent), "has  and \" inside");
    EXPECT_EQ(restored.GetText("编辑框_乙", kPropContent), "第一行\r\n\"第二行\"");
}

TEST_F(SettingsStoreTest, AnEmptyEditBoxIsSavedEmptyAndLeavesTheControlAloneOnRestore) {
    EXPECT_FALSE(SaveEditBoxes(window, path).failure);
    EXPECT_EQ(File(), "[编辑框]\r\n编辑框_甲=\r\n编辑框_乙=\r\n");
    MemoryWindow restored{kControls};
    restored.SetText("编辑框_甲", kPropContent, "kept");
    RestoreEditBoxes(restored, path);
    EXPECT_EQ(restored.GetText("编辑框_甲", kPropContent), "kept");
}

TEST_F(SettingsStoreTest, ALongContentComesBackCutToTheReadBuffer) {
    window.SetText("编辑框_甲", kPropContent, std::string(12000, 'k'));
    EXPECT_FALSE(SaveEditBoxes(window, path).failure);
    MemoryWindow restored{kControls};
    RestoreEditBoxes(restored, path);
    EXPECT_EQ(restored.GetText("编辑框_甲", kPropContent), std::string(kIniReadBufferSize - 1, 'k'));
}

TEST_F(SettingsStoreTest, CheckAndRadioBoxesAreTrueOrFalse) {
    window.SetNumber("选择框_乙", kPropChecked, 1);
    window.SetNumber("单选框_乙", kPropChecked, 1);
    EXPECT_EQ(SaveCheckBoxes(window, path).controlCount, 2);
    EXPECT_EQ(SaveRadioBoxes(window, path).controlCount, 2);
    EXPECT_EQ(File(), "[选择框]\r\n选择框_甲=假\r\n选择框_乙=真\r\n[单选框]\r\n单选框_甲=假\r\n单选框_乙=真\r\n");

    MemoryWindow restored{kControls};
    RestoreCheckBoxes(restored, path);
    RestoreRadioBoxes(restored, path);
    EXPECT_EQ(restored.GetNumber("选择框_甲", kPropChecked), 0);
    EXPECT_EQ(restored.GetNumber("选择框_乙", kPropChecked), 1);
    EXPECT_EQ(restored.GetNumber("单选框_甲", kPropChecked), 0);
    EXPECT_EQ(restored.GetNumber("单选框_乙", kPropChecked), 1);
}

TEST_F(SettingsStoreTest, OnlyFalseUnchecksEveryOtherValueChecks) {
    const struct {
        const char* value;
        long long checked;
    } cases[] = {{"假", 0}, {"真", 1}, {"0", 1}, {"false", 1}, {" 假 ", 0}, {"\"假\"", 0}, {"假的", 1}};
    for (const auto& c : cases) {
        WriteBytes(NativePath(path), std::string("[选择框]\r\n选择框_甲=") + c.value + "\r\n");
        MemoryWindow restored{kControls};
        restored.SetNumber("选择框_甲", kPropChecked, 1 - c.checked);
        RestoreCheckBoxes(restored, path);
        EXPECT_EQ(restored.GetNumber("选择框_甲", kPropChecked), c.checked) << c.value;
    }
}

TEST_F(SettingsStoreTest, ExclusionListsNameWholeControlNames) {
    const struct {
        const char* exclusions;
        bool excluded;
    } cases[] = {
        {"", false},        {"编辑框_甲", true},   {"编辑框_乙|编辑框_甲", true},
        {"编辑框", false},  {"编辑框_甲_", false}, {"|编辑框_甲|", true},
        {"编辑框_", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsExcluded("编辑框_甲", c.exclusions), c.excluded) << c.exclusions;
    }
    EXPECT_FALSE(IsExcluded("Edit", "edit"));

    window.SetText("编辑框_甲", kPropContent, "secret");
    EXPECT_EQ(SaveEditBoxes(window, path, "编辑框_甲").controlCount, 2);
    EXPECT_EQ(File(), "[编辑框]\r\n编辑框_乙=\r\n");
    std::filesystem::remove(NativePath(path));
    EXPECT_FALSE(SaveEditBoxes(window, path, "编辑框_甲|编辑框_乙").failure);
    EXPECT_FALSE(std::filesystem::exists(NativePath(path)));
}

TEST_F(SettingsStoreTest, ComboValueListsItemsThenSelectionAndText) {
    window.ComboAddItem("组合框_甲", "A", 0);
    window.ComboAddItem("组合框_甲", "B", 7);
    window.SetNumber("组合框_甲", kPropComboSelection, 1);
    EXPECT_EQ(ComboValue(window, "组合框_甲"), "A<|>0<||>B<|>7<||>1<|>B");

    window.ComboAddItem("组合框_乙", "say \"hi\"", -3);
    window.SetText("组合框_乙", kPropComboText, "typed \"text\"\r\nnext");
    EXPECT_EQ(ComboValue(window, "组合框_乙"), "say #引号hi#引号<|>-3<||>-1<|>typed #引号text#引号\r\nnext");
}

TEST_F(SettingsStoreTest, CombosRoundTrip) {
    window.ComboAddItem("组合框_甲", "甲项", 12);
    window.ComboAddItem("组合框_甲", "乙\"项\"", 34);
    window.SetNumber("组合框_甲", kPropComboSelection, 0);
    window.SetText("组合框_甲", kPropComboText, "编辑文本");
    EXPECT_EQ(SaveComboBoxes(window, path).controlCount, 2);
    EXPECT_EQ(File(), "[组合框]\r\n组合框_甲=甲项<|>12<||>乙#引号项#引号<|>34<||>0<|>编辑文本\r\n组合框_乙=-1<|>\r\n");

    MemoryWindow restored{kControls};
    restored.ComboAddItem("组合框_乙", "old", 1);
    EXPECT_EQ(RestoreComboBoxes(restored, path), 2);
    ASSERT_EQ(restored.ComboItemCount("组合框_甲"), 2);
    EXPECT_EQ(restored.ComboItemText("组合框_甲", 1), "乙\"项\"");
    EXPECT_EQ(restored.ComboItemData("组合框_甲", 1), 34);
    EXPECT_EQ(restored.GetNumber("组合框_甲", kPropComboSelection), 0);
    EXPECT_EQ(restored.GetText("组合框_甲", kPropComboText), "编辑文本");
    // An empty combo box is stored as "-1<|>" and rebuilt empty.
    EXPECT_EQ(restored.ComboItemCount("组合框_乙"), 0);
    EXPECT_EQ(restored.GetNumber("组合框_乙", kPropComboSelection), -1);
}

TEST_F(SettingsStoreTest, RebuildingReadsNumbersLeniently) {
    RebuildCombo(window, "组合框_甲", "A<|>3.9<||>B<|>x<||>C<|>-2.5e1<||>D<||>E<|> 42abc<||>2<|>typed");
    ASSERT_EQ(window.ComboItemCount("组合框_甲"), 5);
    EXPECT_EQ(window.ComboItemData("组合框_甲", 0), 3);
    EXPECT_EQ(window.ComboItemData("组合框_甲", 1), 0);
    EXPECT_EQ(window.ComboItemData("组合框_甲", 2), -25);
    EXPECT_EQ(window.ComboItemText("组合框_甲", 3), "");  // no "<|>": no text either
    EXPECT_EQ(window.ComboItemData("组合框_甲", 3), 0);
    EXPECT_EQ(window.ComboItemData("组合框_甲", 4), 42);
    EXPECT_EQ(window.GetNumber("组合框_甲", kPropComboSelection), 2);
    EXPECT_EQ(window.GetText("组合框_甲", kPropComboText), "typed");
}

TEST_F(SettingsStoreTest, ALastPieceWithoutItemMarkSelectsTheFirstItemAndEmptiesTheText) {
    RebuildCombo(window, "组合框_甲", "A<|>0<||>B<|>1<||>no mark");
    ASSERT_EQ(window.ComboItemCount("组合框_甲"), 2);
    EXPECT_EQ(window.GetNumber("组合框_甲", kPropComboSelection), 0);
    EXPECT_EQ(window.GetText("组合框_甲", kPropComboText), "");
}

TEST_F(SettingsStoreTest, NumbersAsTheStoreReadsThem) {
    const struct {
        const char* text;
        long long value;
    } cases[] = {{"", 0},
                 {"abc", 0},
                 {"12", 12},
                 {"+7", 7},
                 {"-0.99", 0},
                 {" 5 ", 5},
                 {"1e3", 1000},
                 {"1e", 1},
                 {"0x1A", 0},
                 {".5", 0},
                 {"9.9.9", 9},
                 {"-", 0},
                 {"1e999", std::numeric_limits<long long>::max()},
                 {"-1e999", std::numeric_limits<long long>::min()},
                 {"1e-999", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(TextToInteger(c.text), c.value) << c.text;
    }
}

TEST_F(SettingsStoreTest, AMissingFileSectionOrKeyRestoresNothing) {
    window.SetText("编辑框_甲", kPropContent, "as designed");
    EXPECT_EQ(RestoreEditBoxes(window, path), 2);
    EXPECT_EQ(RestoreCheckBoxes(window, path), 2);
    EXPECT_EQ(RestoreComboBoxes(window, path), 2);
    WriteBytes(NativePath(path), "[选择框]\r\n选择框_甲=真\r\n");
    RestoreEditBoxes(window, path);
    EXPECT_EQ(window.GetText("编辑框_甲", kPropContent), "as designed");
    EXPECT_FALSE(std::filesystem::exists(NativePath(ProgramPath("data"))));
}

TEST_F(SettingsStoreTest, AnEmptyPathMeansTheDefaultFileInTheDataFolder) {
    Text given;
    window.SetText("编辑框_甲", kPropContent, "x");
    EXPECT_FALSE(SaveEditBoxes(window, given).failure);
    EXPECT_EQ(given, ProgramFolder() + "/data/setsoft.ini");
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() / "data"));
    EXPECT_EQ(ReadBytes(home.Path() / "data" / "setsoft.ini"), "[编辑框]\r\n编辑框_甲=x\r\n编辑框_乙=\r\n");

    std::filesystem::remove_all(home.Path() / "data");
    Text restorePath;
    RestoreCheckBoxes(window, restorePath);
    EXPECT_EQ(restorePath, ProgramFolder() + "/data/setsoft.ini");
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() / "data"));
}

TEST_F(SettingsStoreTest, ALaterSaveRewritesValuesInPlace) {
    EXPECT_FALSE(SaveCheckBoxes(window, path).failure);
    WriteBytes(NativePath(path), "; written by hand\r\n" + File() + "[其他]\r\n键=值\r\n");
    window.SetNumber("选择框_甲", kPropChecked, 1);
    EXPECT_FALSE(SaveCheckBoxes(window, path).failure);
    EXPECT_EQ(File(), "; written by hand\r\n[选择框]\r\n选择框_甲=真\r\n选择框_乙=假\r\n[其他]\r\n键=值\r\n");
}

// A check box stored as "假" on a last line that ends in a lone CR (a file cut short) stays
// unchecked after the next save adds a line behind it.
TEST_F(SettingsStoreTest, ALastLineEndingInALoneCrKeepsItsValueThroughASave) {
    WriteBytes(NativePath(path), "[选择框]\r\n选择框_甲=假\r");
    window.SetNumber("选择框_甲", kPropChecked, 1);
    RestoreCheckBoxes(window, path);
    EXPECT_EQ(window.GetNumber("选择框_甲", kPropChecked), 0);
    EXPECT_FALSE(SaveEditBoxes(window, path).failure);
    window.SetNumber("选择框_甲", kPropChecked, 1);
    RestoreCheckBoxes(window, path);
    EXPECT_EQ(window.GetNumber("选择框_甲", kPropChecked), 0);
    EXPECT_EQ(File(), "[选择框]\r\n选择框_甲=假\r\n[编辑框]\r\n编辑框_甲=\r\n编辑框_乙=\r\n");
}

// Content the file cannot keep (a line break that is not CR LF) fails the save and names its box.
TEST_F(SettingsStoreTest, AValueThatCannotBeWrittenNamesItsControl) {
    window.SetText("编辑框_乙", kPropContent, "sk-abc\n");
    const SaveResult result = SaveEditBoxes(window, path);
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_EQ(result.failedControl, "编辑框_乙");
    EXPECT_EQ(File(), "[编辑框]\r\n编辑框_甲=\r\n");  // the other box is saved
}

TEST_F(SettingsStoreTest, AFailedWriteIsReportedWithPathAndReason) {
    home.PointAtUnwritableFolder();
    Text unwritable = ProgramPath("store.ini");
    const SaveResult result = SaveCheckBoxes(window, unwritable);
    EXPECT_EQ(result.controlCount, 2);
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_EQ(result.failure->where, unwritable);
    EXPECT_FALSE(result.failure->reason.empty());
    EXPECT_EQ(result.failedControl, "");  // the file is the cause, not a value
}

}  // namespace
}  // namespace qj

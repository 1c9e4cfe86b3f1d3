// The settings a run reads: from 配置.ini alone they are what the window shows after restoring the
// same file, and the one reader of a run's inputs asks only for controls the main window has.

#include "settings/setting_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "app/control_names.h"
#include "app/main_window_controls.h"
#include "app/run_settings.h"
#include "settings/settings_store.h"
#include "window/memory_window.h"

namespace qj {
namespace {

// A settings file with random values for random controls of the main window: texts with line
// breaks (escaped as the file writes them), zero bytes, quotes, empty values; check values of every
// sort; several radio boxes of one group checked or unchecked in any order.
IniDocument RandomSettingsFile(std::mt19937& random) {
    static const Text kTexts[] = {"",          "sk-1",     "a><br><b", "  spaced  ", "#引号quoted#引号", "中文",
                                  "x><br><", "0.7",      "many",      "12",         Text("a\0b", 3)};
    static const Text kChecks[] = {"真", "假", "", "1", "false", "是"};
    Bytes file;
    for (const char* kindName : {kind::kRadio, kind::kEdit, kind::kCheck}) {
        file += "[" + Text(kindName) + "]\r\n";
        for (const ControlRow& row : MainWindowLayout().controls) {
            if (!IsKind(row, kindName) || random() % 3 == 0) {
                continue;
            }
            const Text& value = IsKind(row, kind::kEdit) ? kTexts[random() % std::size(kTexts)]
                                                         : kChecks[random() % std::size(kChecks)];
            file += Text(row.name) + "=" + value + "\r\n";
        }
    }
    return IniDocument::FromFileBytes(file);
}

TEST(StoredSettings, AreWhatTheWindowShowsAfterRestoringTheSameFile) {
    std::mt19937 random(20240521);
    for (int round = 0; round < 300; ++round) {
        const IniDocument document = RandomSettingsFile(random);
        MemoryWindow window(MainWindowLayout().controls);
        RestoreSettings(window, document);
        const StoredSettings stored(MainWindowLayout().controls, document);
        const WindowSettings shown(window);
        for (const ControlRow& row : MainWindowLayout().controls) {
            SCOPED_TRACE(document.text());
            if (IsKind(row, kind::kEdit)) {
                ASSERT_EQ(stored.TextOf(row.name), shown.TextOf(row.name)) << row.name;
            } else if (IsKind(row, kind::kCheck) || IsKind(row, kind::kRadio)) {
                ASSERT_EQ(stored.IsChecked(row.name), shown.IsChecked(row.name)) << row.name;
            }
        }
    }
}

// Remembers the names a reader was asked for.
class RecordingSettings : public SettingReader {
public:
    explicit RecordingSettings(Text checkedRadio) : checkedRadio_(std::move(checkedRadio)) {}
    Text TextOf(const Text& name) const override {
        texts.insert(name);
        return {};
    }
    bool IsChecked(const Text& name) const override {
        checks.insert(name);
        return name == checkedRadio_;
    }
    mutable std::set<Text> texts;
    mutable std::set<Text> checks;

private:
    Text checkedRadio_;
};

TEST(ReadRunInputs, AsksOnlyForControlsOfTheMainWindowOfTheRightKind) {
    std::map<Text, const ControlRow*> byName;
    for (const ControlRow& row : MainWindowLayout().controls) {
        byName[row.name] = &row;
    }
    for (const char* radio : {control::kRadioInterfaceOne, control::kRadioInterfaceTwo, control::kRadioInterfaceThree}) {
        const RecordingSettings settings(radio);
        const RunInputs inputs = ReadRunInputs(settings, DefaultDeployment(), "/folder", RunSwitches());
        EXPECT_FALSE(settings.texts.empty());
        for (const Text& name : settings.texts) {
            ASSERT_EQ(byName.count(name), 1u) << name;
            EXPECT_TRUE(IsKind(*byName.at(name), kind::kEdit)) << name;
        }
        for (const Text& name : settings.checks) {
            ASSERT_EQ(byName.count(name), 1u) << name;
            EXPECT_TRUE(IsKind(*byName.at(name), kind::kCheck) || IsKind(*byName.at(name), kind::kRadio)) << name;
        }
        EXPECT_EQ(inputs.take.files.keywordList, "/folder/OpenAi/待采集关键词.txt");
    }
}

}  // namespace
}  // namespace qj

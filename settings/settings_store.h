#pragma once

#include <optional>

#include "platform/file_system.h"
#include "settings/ini_file.h"
#include "window/window_model.h"

namespace qj {

// The settings file of the program folder: the states of the main window's controls and the
// deployment overrides.
inline constexpr const char* kSettingsFileTail = "\xC5\xE4\xD6\xC3.ini";  // 配置.ini

// Keeps the states of a window's controls in an ini file, by control kind (the section) and control
// name (the key), so a control added to a window is remembered without a change here.
//
// Every operation takes the window and the file path; an empty path is replaced by
// DefaultSettingsPath() and handed back. Saves skip the controls named in `exclusions` (names
// joined by "|"). Each operation reports how many controls of its kind the window has, excluded
// ones included; saves also report the first write that failed.

struct SaveResult {
    int controlCount = 0;
    std::optional<Error> failure;
    // The control whose value could not be written, when the value itself was the cause (it holds
    // a line break the file cannot keep); empty otherwise.
    Text failedControl;
};

[[nodiscard]] SaveResult SaveEditBoxes(WindowModel& window, Text& path, const Text& exclusions = {});
[[nodiscard]] SaveResult SaveCheckBoxes(WindowModel& window, Text& path, const Text& exclusions = {});
[[nodiscard]] SaveResult SaveRadioBoxes(WindowModel& window, Text& path, const Text& exclusions = {});
[[nodiscard]] SaveResult SaveComboBoxes(WindowModel& window, Text& path, const Text& exclusions = {});

// A missing file, section or key, or an empty value, leaves a control as it is. An edit box gets
// its value as the classic read buffer holds it (ReadIniValue).
int RestoreEditBoxes(WindowModel& window, Text& path);
int RestoreCheckBoxes(WindowModel& window, Text& path);
int RestoreRadioBoxes(WindowModel& window, Text& path);
int RestoreComboBoxes(WindowModel& window, Text& path);

// The main window's settings as the program keeps them: every edit box, check box, radio box and
// combo box of the window but the excluded ones, set in one read of the file and written back in
// one replacement (the same bytes as the four saves above one after the other would give). A file
// that exists but cannot be read is not replaced.
[[nodiscard]] SaveResult SaveSettings(const WindowModel& window, const Text& path, const Text& exclusions = {});

// Restores every persistable control from a document read once. Unlike the restores above, edit
// boxes get their whole value, however long: a box of many lines keeps what the user wrote.
void RestoreSettings(WindowModel& window, const IniDocument& document);

// The name is one of the "|"-separated names of the list (exact, case-sensitive, whole name).
bool IsExcluded(const Text& name, const Text& exclusions);

// The program folder + "/data/setsoft.ini"; the data folder exists afterwards.
Text DefaultSettingsPath();

// A check or radio box in the file: checked unless its value is 假.
bool IsCheckedValue(const Text& value);

// Edit box contents in the file: CR LF becomes "><br><", then '"' becomes "#引号"; restoring undoes
// both in the same order.
Text EscapeEditContent(const Text& content);
Text UnescapeEditContent(const Text& value);

// A combo box in the file: every item as text<|>data<||>, then selection<|>edit text, with every
// '"' as "#引号".
Text ComboValue(const WindowModel& window, const Text& name);
// Rebuilds a combo box from a value whose quote escaping is already undone.
void RebuildCombo(WindowModel& window, const Text& name, const Text& value);

// A text read as a number and truncated to an integer; text that is no number gives 0.
long long TextToInteger(const Text& text);

}  // namespace qj

#include "settings/settings_store.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/program_folder.h"
#include "settings/ini_file.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kLineBreakMark = "><br><";
constexpr const char* kQuoteMark = "#引号";
constexpr const char* kItemMark = "<|>";
constexpr const char* kItemSeparator = "<||>";
constexpr const char* kTrue = "真";
constexpr const char* kFalse = "假";

Text& ResolvePath(Text& path) {
    if (path.empty()) {
        path = DefaultSettingsPath();
    }
    return path;
}

template <class ValueOf>
SaveResult SaveKind(WindowModel& window, Text& path, const Text& exclusions, const char* kindName, ValueOf valueOf) {
    ResolvePath(path);
    SaveResult result;
    const std::vector<Text> names = window.ControlsOfKind(kindName);
    result.controlCount = static_cast<int>(names.size());
    for (const Text& name : names) {
        if (IsExcluded(name, exclusions)) {
            continue;
        }
        const Text value = valueOf(name);
        std::optional<FileError> failure = WriteIniValue(path, kindName, name, value);
        if (failure && !result.failure) {
            result.failure = std::move(failure);
            if (!IniValueIsWritable(value)) {
                result.failedControl = name;
            }
        }
    }
    return result;
}

template <class Apply>
int RestoreKind(WindowModel& window, Text& path, const char* kindName, Apply apply) {
    ResolvePath(path);
    const std::vector<Text> names = window.ControlsOfKind(kindName);
    for (const Text& name : names) {
        const Text value = ReadIniValue(path, kindName, name);
        if (!value.empty()) {
            apply(name, value);
        }
    }
    return static_cast<int>(names.size());
}

Text CheckedValue(const WindowModel& window, const Text& name) {
    return window.GetNumber(name, kPropChecked) != 0 ? kTrue : kFalse;
}

void ApplyChecked(WindowModel& window, const Text& name, const Text& value) {
    window.SetNumber(name, kPropChecked, value == kFalse ? 0 : 1);
}

}  // namespace

bool IsExcluded(const Text& name, const Text& exclusions) {
    for (const Text& excluded : SplitText(exclusions, "|")) {
        if (excluded == name) {
            return true;
        }
    }
    return false;
}

Text DefaultSettingsPath() {
    const Text folder = ProgramPath("data");
    // A folder that cannot be made shows when the file in it is written: that failure is reported.
    static_cast<void>(EnsureFolder(folder));
    return folder + kPathSeparator + "setsoft.ini";
}

Text EscapeEditContent(const Text& content) {
    return ReplaceAll(ReplaceAll(content, "\r\n", kLineBreakMark), "\"", kQuoteMark);
}

Text UnescapeEditContent(const Text& value) {
    return ReplaceAll(ReplaceAll(value, kLineBreakMark, "\r\n"), kQuoteMark, "\"");
}

Text ComboValue(const WindowModel& window, const Text& name) {
    Text value;
    const int count = window.ComboItemCount(name);
    for (int i = 0; i < count; ++i) {
        value +=
            window.ComboItemText(name, i) + kItemMark + std::to_string(window.ComboItemData(name, i)) + kItemSeparator;
    }
    value +=
        std::to_string(window.GetNumber(name, kPropComboSelection)) + kItemMark + window.GetText(name, kPropComboText);
    return ReplaceAll(value, "\"", kQuoteMark);
}

void RebuildCombo(WindowModel& window, const Text& name, const Text& value) {
    window.ComboClear(name);
    const TextList pieces = SplitText(value, kItemSeparator);
    if (pieces.empty()) {
        return;
    }
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        window.ComboAddItem(name, TextLeftOf(pieces[i], kItemMark), TextToInteger(TextRightOf(pieces[i], kItemMark)));
    }
    const Text& last = pieces.back();
    window.SetNumber(name, kPropComboSelection, TextToInteger(TextLeftOf(last, kItemMark)));
    window.SetText(name, kPropComboText, TextRightOf(last, kItemMark));
}

long long TextToInteger(const Text& text) {
    // Decimal only: optional blanks, sign, digits, fraction and exponent; what follows is ignored.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    auto isDigit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    bool digits = false;
    while (isDigit(i)) {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (isDigit(i)) {
            ++i;
            digits = true;
        }
    }
    if (!digits) {
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) {
            ++e;
        }
        if (isDigit(e)) {
            i = e;
            while (isDigit(i)) {
                ++i;
            }
        }
    }
    std::size_t from = start;
    if (text[from] == '+') {
        ++from;  // from_chars takes no plus sign
    }
    double number = 0;
    const Text literal = text.substr(from, i - from);
    if (std::from_chars(literal.data(), literal.data() + literal.size(), number).ec == std::errc::result_out_of_range) {
        const bool tiny = literal.find("e-") != Text::npos || literal.find("E-") != Text::npos;
        number = tiny ? 0.0 : (literal.front() == '-' ? -HUGE_VAL : HUGE_VAL);
    }
    constexpr double kMax = static_cast<double>(std::numeric_limits<long long>::max());
    if (!(std::fabs(number) < kMax)) {
        return number < 0 ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
    }
    return static_cast<long long>(number);
}

SaveResult SaveEditBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKind(window, path, exclusions, kind::kEdit,
                    [&](const Text& name) { return EscapeEditContent(window.GetText(name, kPropContent)); });
}

SaveResult SaveCheckBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKind(window, path, exclusions, kind::kCheck,
                    [&](const Text& name) { return CheckedValue(window, name); });
}

SaveResult SaveRadioBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKind(window, path, exclusions, kind::kRadio,
                    [&](const Text& name) { return CheckedValue(window, name); });
}

SaveResult SaveComboBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKind(window, path, exclusions, kind::kCombo, [&](const Text& name) { return ComboValue(window, name); });
}

int RestoreEditBoxes(WindowModel& window, Text& path) {
    return RestoreKind(window, path, kind::kEdit, [&](const Text& name, const Text& value) {
        window.SetText(name, kPropContent, UnescapeEditContent(value));
    });
}

int RestoreCheckBoxes(WindowModel& window, Text& path) {
    return RestoreKind(window, path, kind::kCheck,
                       [&](const Text& name, const Text& value) { ApplyChecked(window, name, value); });
}

int RestoreRadioBoxes(WindowModel& window, Text& path) {
    return RestoreKind(window, path, kind::kRadio,
                       [&](const Text& name, const Text& value) { ApplyChecked(window, name, value); });
}

int RestoreComboBoxes(WindowModel& window, Text& path) {
    return RestoreKind(window, path, kind::kCombo, [&](const Text& name, const Text& value) {
        const Text unescaped = ReplaceAll(value, kQuoteMark, "\"");
        if (!unescaped.empty()) {
            RebuildCombo(window, name, unescaped);
        }
    });
}

}  // namespace qj

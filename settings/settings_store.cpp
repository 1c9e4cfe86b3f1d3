#include "settings/settings_store.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <span>

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

Text CheckedValue(const WindowModel& window, const Text& name) {
    return window.GetNumber(name, kPropChecked) != 0 ? kTrue : kFalse;
}

void ApplyChecked(WindowModel& window, const Text& name, const Text& value) {
    window.SetNumber(name, kPropChecked, IsCheckedValue(value) ? 1 : 0);
}

}  // namespace

bool IsCheckedValue(const Text& value) {
    return value != kFalse;
}

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

namespace {

// How one kind of control goes into the file and comes back.
struct KindCodec {
    const char* kindName;
    Text (*valueOf)(const WindowModel& window, const Text& name);
    void (*apply)(WindowModel& window, const Text& name, const Text& value);
};

constexpr KindCodec kEditBoxes{
    kind::kEdit,
    [](const WindowModel& window, const Text& name) { return EscapeEditContent(window.GetText(name, kPropContent)); },
    [](WindowModel& window, const Text& name, const Text& value) {
        window.SetText(name, kPropContent, UnescapeEditContent(value));
    }};
constexpr KindCodec kCheckBoxes{kind::kCheck, CheckedValue, ApplyChecked};
constexpr KindCodec kRadioBoxes{kind::kRadio, CheckedValue, ApplyChecked};
constexpr KindCodec kComboBoxes{kind::kCombo, ComboValue, [](WindowModel& window, const Text& name, const Text& value) {
                                    const Text unescaped = ReplaceAll(value, kQuoteMark, "\"");
                                    if (!unescaped.empty()) {
                                        RebuildCombo(window, name, unescaped);
                                    }
                                }};
constexpr KindCodec kAllKinds[] = {kEditBoxes, kCheckBoxes, kRadioBoxes, kComboBoxes};

// Sets the values of the window's controls of a kind in the document; the first value it refuses
// becomes the result's failure. Returns how many values it set.
int SaveKindInto(const WindowModel& window, IniDocument& document, const Text& path, const Text& exclusions,
                 const KindCodec& codec, SaveResult& result) {
    int set = 0;
    const std::vector<Text> names = window.ControlsOfKind(codec.kindName);
    result.controlCount += static_cast<int>(names.size());
    for (const Text& name : names) {
        if (IsExcluded(name, exclusions)) {
            continue;
        }
        const Text value = codec.valueOf(window, name);
        std::optional<Text> refusal = document.Set(codec.kindName, name, value);
        if (!refusal) {
            ++set;
        } else if (!result.failure) {
            result.failure = Error{.kind = ErrorKind::kFile, .where = path, .reason = std::move(*refusal)};
            if (!IniValueIsWritable(value)) {
                result.failedControl = name;
            }
        }
    }
    return set;
}

// One read of the file, the kinds set in memory, one replacement of the file.
SaveResult SaveKinds(const WindowModel& window, const Text& path, const Text& exclusions,
                     std::span<const KindCodec> kinds) {
    SaveResult result;
    IniRead read = ReadIniDocument(path);
    if (!read && read.error().kind != ErrorKind::kMissing) {
        // A file that exists but cannot be read is never replaced: what it holds would be lost.
        for (const KindCodec& codec : kinds) {
            result.controlCount += static_cast<int>(window.ControlsOfKind(codec.kindName).size());
        }
        result.failure = read.error();
        return result;
    }
    IniDocument document = read ? std::move(*read) : IniDocument();
    int set = 0;
    for (const KindCodec& codec : kinds) {
        set += SaveKindInto(window, document, path, exclusions, codec, result);
    }
    // Nothing to save (every control excluded, or refused) touches no file.
    if (set == 0) {
        return result;
    }
    if (Result<void> written = WriteIniDocument(path, document); !written) {
        result.failure = written.error();
        result.failedControl.clear();
    }
    return result;
}

// Applies the non-empty values of a kind; `cut` gives them as the classic read buffer does.
int RestoreKindFrom(WindowModel& window, const IniDocument& document, const KindCodec& codec, bool cut) {
    const std::vector<Text> names = window.ControlsOfKind(codec.kindName);
    for (const Text& name : names) {
        std::optional<Text> value = document.Value(codec.kindName, name);
        if (value && cut) {
            value = CutToIniReadBuffer(*value);
        }
        if (value && !value->empty()) {
            codec.apply(window, name, *value);
        }
    }
    return static_cast<int>(names.size());
}

int RestoreKindFromFile(WindowModel& window, Text& path, const KindCodec& codec) {
    ResolvePath(path);
    const std::string_view file = SkipLeadingControls(path);
    const IniDocument document = file.empty() ? IniDocument() : ReadIniDocument(Text(file)).value_or(IniDocument());
    return RestoreKindFrom(window, document, codec, true);
}

}  // namespace

SaveResult SaveEditBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKinds(window, ResolvePath(path), exclusions, std::span(&kEditBoxes, 1));
}

SaveResult SaveCheckBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKinds(window, ResolvePath(path), exclusions, std::span(&kCheckBoxes, 1));
}

SaveResult SaveRadioBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKinds(window, ResolvePath(path), exclusions, std::span(&kRadioBoxes, 1));
}

SaveResult SaveComboBoxes(WindowModel& window, Text& path, const Text& exclusions) {
    return SaveKinds(window, ResolvePath(path), exclusions, std::span(&kComboBoxes, 1));
}

int RestoreEditBoxes(WindowModel& window, Text& path) {
    return RestoreKindFromFile(window, path, kEditBoxes);
}

int RestoreCheckBoxes(WindowModel& window, Text& path) {
    return RestoreKindFromFile(window, path, kCheckBoxes);
}

int RestoreRadioBoxes(WindowModel& window, Text& path) {
    return RestoreKindFromFile(window, path, kRadioBoxes);
}

int RestoreComboBoxes(WindowModel& window, Text& path) {
    return RestoreKindFromFile(window, path, kComboBoxes);
}

SaveResult SaveSettings(const WindowModel& window, const Text& path, const Text& exclusions) {
    return SaveKinds(window, path, exclusions, kAllKinds);
}

void RestoreSettings(WindowModel& window, const IniDocument& document) {
    for (const KindCodec& codec : kAllKinds) {
        RestoreKindFrom(window, document, codec, false);
    }
}

}  // namespace qj

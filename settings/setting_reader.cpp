#include "settings/setting_reader.h"

#include "settings/settings_store.h"

namespace qj {

namespace {

Text RadioGroup(const ControlRow& row) {
    return Text(row.parent) + "#" + std::to_string(row.page);
}

}  // namespace

StoredSettings::StoredSettings(ControlTable controls, const IniDocument& document) {
    for (const ControlRow& row : controls) {
        if (IsKind(row, kind::kEdit)) {
            texts_[row.name] = KeptText(CaptionOf(row), IsSingleLineEdit(row));
        } else if (IsKind(row, kind::kCheck) || IsKind(row, kind::kRadio)) {
            checked_[row.name] = row.checked;
        }
    }
    for (const ControlRow& row : controls) {
        if (IsKind(row, kind::kEdit)) {
            if (const std::optional<Text> value = document.Value(row.kind, row.name); value && !value->empty()) {
                texts_[row.name] = KeptText(UnescapeEditContent(*value), IsSingleLineEdit(row));
            }
        }
    }
    for (const char* kindName : {kind::kCheck, kind::kRadio}) {
        for (const ControlRow& row : controls) {
            if (!IsKind(row, kindName)) {
                continue;
            }
            const std::optional<Text> value = document.Value(row.kind, row.name);
            if (!value || value->empty()) {
                continue;
            }
            const bool checked = IsCheckedValue(*value);
            checked_[row.name] = checked;
            if (checked && IsKind(row, kind::kRadio)) {
                for (const ControlRow& other : controls) {
                    if (IsKind(other, kind::kRadio) && Text(other.name) != row.name &&
                        RadioGroup(other) == RadioGroup(row)) {
                        checked_[other.name] = false;
                    }
                }
            }
        }
    }
}

Text StoredSettings::TextOf(const Text& name) const {
    const auto found = texts_.find(name);
    return found == texts_.end() ? Text() : found->second;
}

bool StoredSettings::IsChecked(const Text& name) const {
    const auto found = checked_.find(name);
    return found != checked_.end() && found->second;
}

}  // namespace qj

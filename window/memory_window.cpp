#include "window/memory_window.h"

#include <cstring>

namespace qj {

namespace {

bool IsKind(const Text& kindName, const char* k) {
    return kindName == k;
}

}  // namespace

MemoryWindow::MemoryWindow(ControlTable controls) {
    for (const ControlRow& row : controls) {
        Control c;
        c.kind = row.kind;
        c.singleLine = IsSingleLineEdit(row);
        c.keptLines = IsKind(row, kind::kEdit) && row.multiLine ? row.keptLines : 0;
        c.text = Kept(c, CaptionOf(row));
        c.checked = row.checked;
        if (IsKind(row.kind, kind::kTab)) {
            c.pageCount = static_cast<int>(row.pages.size());
            c.selection = row.shownPage;
        }
        order_.push_back(row.name);
        controls_[row.name] = std::move(c);
    }
    // Radio boxes of one parent and page form a group; remember it for exclusive checking.
    for (const ControlRow& row : controls) {
        if (IsKind(row.kind, kind::kRadio)) {
            radioGroup_[row.name] = Text(row.parent) + "#" + std::to_string(row.page);
        }
    }
}

MemoryWindow::MemoryWindow(const WindowLayout& layout) : MemoryWindow(layout.controls) {
    title_ = layout.title;
}

Text MemoryWindow::Kept(const Control& control, const Text& text) {
    return KeptText(text, control.singleLine);
}

MemoryWindow::Control* MemoryWindow::Find(const Text& name) {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : &it->second;
}

const MemoryWindow::Control* MemoryWindow::Find(const Text& name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : &it->second;
}

std::vector<Text> MemoryWindow::ControlsOfKind(const Text& kindName) const {
    std::lock_guard lock(mutex_);
    std::vector<Text> names;
    for (const Text& name : order_) {
        if (controls_.at(name).kind == kindName) {
            names.push_back(name);
        }
    }
    return names;
}

bool MemoryWindow::HasControl(const Text& name) const {
    std::lock_guard lock(mutex_);
    return Find(name) != nullptr;
}

Text MemoryWindow::GetText(const Text& name, int property) const {
    std::lock_guard lock(mutex_);
    if (name == kWindowItself) {
        return property == kPropCaption ? title_ : Text();
    }
    const Control* c = Find(name);
    if (!c) {
        return {};
    }
    switch (property) {
        case kPropContent:
        case kPropComboText:
        case kPropCaption:
            return c->text;
        default:
            return {};
    }
}

void MemoryWindow::SetText(const Text& name, int property, const Text& value) {
    std::lock_guard lock(mutex_);
    if (name == kWindowItself) {
        if (property == kPropCaption) {
            title_ = value.substr(0, std::strlen(value.c_str()));
        }
        return;
    }
    Control* c = Find(name);
    if (!c) {
        return;
    }
    if (property == kPropContent || property == kPropComboText || property == kPropCaption) {
        c->text = Kept(*c, value);
        KeepLastLines(c->text, c->keptLines);
    }
}

long long MemoryWindow::GetNumber(const Text& name, int property) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    if (!c) {
        return 0;
    }
    switch (property) {
        case kPropDisabled:
            return c->disabled ? 1 : 0;
        case kPropChecked:
            return c->checked ? 1 : 0;
        case kPropComboSelection:
        case kPropListSelection:
            return c->selection;
        case kPropProgressValue:
            return c->kind == kind::kProgress ? c->progressValue : 0;
        case kPropProgressMaximum:
            return c->kind == kind::kProgress ? c->progressMaximum : 0;
        default:
            return 0;
    }
}

void MemoryWindow::SetNumber(const Text& name, int property, long long value) {
    std::lock_guard lock(mutex_);
    Control* c = Find(name);
    if (!c) {
        return;
    }
    switch (property) {
        case kPropDisabled:
            c->disabled = value != 0;
            break;
        case kPropChecked:
            c->checked = value != 0;
            if (c->checked && radioGroup_.count(name)) {
                const Text& group = radioGroup_.at(name);
                for (auto& [other, g] : radioGroup_) {
                    if (other != name && g == group) {
                        controls_.at(other).checked = false;
                    }
                }
            }
            break;
        case kPropComboSelection:
            c->selection = (value >= 0 && value < static_cast<long long>(c->items.size())) ? value : -1;
            if (c->selection >= 0) {
                c->text = c->items[static_cast<size_t>(c->selection)].first;
            }
            break;
        case kPropListSelection:
            c->selection = (value >= 0 && value < static_cast<long long>(c->rows.size())) ? value : -1;
            break;
        case kPropProgressValue:
            if (c->kind == kind::kProgress) {
                c->progressValue = value;
            }
            break;
        case kPropProgressMaximum:
            if (c->kind == kind::kProgress) {
                c->progressMaximum = value;
            }
            break;
        default:
            break;
    }
}

void MemoryWindow::AppendText(const Text& name, const Text& text) {
    std::function<void(const Text&, const Text&)> observer;
    {
        std::lock_guard lock(mutex_);
        Control* c = Find(name);
        if (!c || c->kind != kind::kEdit) {
            return;
        }
        c->text += Kept(*c, text);
        KeepLastLines(c->text, c->keptLines);
        observer = appendObserver_;
    }
    if (observer) {
        observer(name, text);
    }
}

int MemoryWindow::CurrentTabPage(const Text& name) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    return c && c->kind == kind::kTab ? static_cast<int>(c->selection) : -1;
}

void MemoryWindow::SetCurrentTabPage(const Text& name, int page) {
    std::lock_guard lock(mutex_);
    Control* c = Find(name);
    if (c && c->kind == kind::kTab && page >= 0 && page < c->pageCount) {
        c->selection = page;
    }
}

int MemoryWindow::ComboItemCount(const Text& name) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    return c ? static_cast<int>(c->items.size()) : 0;
}

Text MemoryWindow::ComboItemText(const Text& name, int index) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) {
        return {};
    }
    return c->items[static_cast<size_t>(index)].first;
}

long long MemoryWindow::ComboItemData(const Text& name, int index) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) {
        return 0;
    }
    return c->items[static_cast<size_t>(index)].second;
}

void MemoryWindow::ComboClear(const Text& name) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(name)) {
        c->items.clear();
        c->selection = -1;
    }
}

void MemoryWindow::ComboAddItem(const Text& name, const Text& text, long long data) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(name)) {
        c->items.emplace_back(text, data);
    }
}

int MemoryWindow::ListRowCount(const Text& name) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    return c ? static_cast<int>(c->rows.size()) : 0;
}

void MemoryWindow::ListClear(const Text& name) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(name)) {
        c->rows.clear();
        c->selection = -1;
    }
}

int MemoryWindow::ListAddRow(const Text& name, const Text& firstCell) {
    std::lock_guard lock(mutex_);
    Control* c = Find(name);
    if (!c) {
        return -1;
    }
    ListRow row;
    row.cells.push_back(firstCell);
    c->rows.push_back(std::move(row));
    return static_cast<int>(c->rows.size()) - 1;
}

Text MemoryWindow::ListCellText(const Text& name, int row, int column) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0) {
        return {};
    }
    const auto& cells = c->rows[static_cast<size_t>(row)].cells;
    return column < static_cast<int>(cells.size()) ? cells[static_cast<size_t>(column)] : Text();
}

void MemoryWindow::ListSetCellText(const Text& name, int row, int column, const Text& text) {
    std::lock_guard lock(mutex_);
    Control* c = Find(name);
    if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0 || column > 63) {
        return;
    }
    auto& cells = c->rows[static_cast<size_t>(row)].cells;
    if (column >= static_cast<int>(cells.size())) {
        cells.resize(static_cast<size_t>(column) + 1);
    }
    cells[static_cast<size_t>(column)] = text;
}

void MemoryWindow::ListSetCellColours(const Text& name, int row, int column, std::optional<Colour> text,
                                      std::optional<Colour> background) {
    std::lock_guard lock(mutex_);
    Control* c = Find(name);
    if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return;
    }
    auto& colours = c->rows[static_cast<size_t>(row)].colours;
    if (!text && !background) {
        colours.erase(column);
    } else {
        colours[column] = {text.value_or(kListTextColour), background.value_or(kListBackgroundColour)};
    }
}

Colour MemoryWindow::ListTextColour(const Text&) const {
    return kListTextColour;
}

Colour MemoryWindow::ListBackgroundColour(const Text&) const {
    return kListBackgroundColour;
}

std::optional<std::pair<Colour, Colour>> MemoryWindow::ListCellColours(const Text& name, int row, int column) const {
    std::lock_guard lock(mutex_);
    const Control* c = Find(name);
    if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return std::nullopt;
    }
    const auto& colours = c->rows[static_cast<size_t>(row)].colours;
    auto it = colours.find(column);
    if (it == colours.end()) {
        return std::nullopt;
    }
    return it->second;
}

void MemoryWindow::MessageBox(const Text& text, const Text& caption, MessageIcon icon) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, caption, icon});
}

void MemoryWindow::ShellOpen(const Text& target) {
    std::lock_guard lock(mutex_);
    opened_.push_back(target);
}

std::vector<MemoryWindow::ShownMessage> MemoryWindow::ShownMessages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<Text> MemoryWindow::OpenedTargets() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

void MemoryWindow::SetAppendObserver(std::function<void(const Text&, const Text&)> observer) {
    std::lock_guard lock(mutex_);
    appendObserver_ = std::move(observer);
}

}  // namespace qj

#include "app/row_colours.h"

#include <algorithm>

namespace qj {

std::optional<RowColourEntry> RowColourTable::Set(int row, int column, Colour text, Colour background, bool plain) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const RowColourEntry& e) { return e.row == row && e.column == column; });
    if (plain) {
        if (it != entries_.end()) {
            entries_.erase(it);
        }
        return std::nullopt;
    }
    if (it == entries_.end()) {
        entries_.push_back(RowColourEntry{.row = row, .column = column, .text = text, .background = background});
        return entries_.back();
    }
    it->text = text;
    it->background = background;
    return *it;
}

std::optional<RowColourEntry> RowColourTable::Find(int row, int column) const {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const RowColourEntry& e) { return e.row == row && e.column == column; });
    return it == entries_.end() ? std::nullopt : std::optional<RowColourEntry>(*it);
}

std::vector<RowColourEntry> RowColourTable::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

void RowColourTable::Release() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    entries_.shrink_to_fit();
}

Colour AdvertColour(int draw) {
    return draw >= 1 && draw <= 5 ? kAdvertColours[draw - 1] : kAdvertColours[4];
}

void SetListRowColour(WindowModel& window, RowColourTable& colours, const Text& list, int row, int column, Colour text,
                      std::optional<Colour> background) {
    const Colour ownText = window.ListTextColour(list);
    const Colour ownBackground = window.ListBackgroundColour(list);
    const Colour cellBackground = background.value_or(ownBackground);
    const bool plain = text == ownText && cellBackground == ownBackground;
    const std::optional<RowColourEntry> entry = colours.Set(row, column, text, cellBackground, plain);
    if (entry) {
        window.ListSetCellColours(list, row, column, entry->text, entry->background);
    } else {
        window.ListSetCellColours(list, row, column, std::nullopt, std::nullopt);
    }
}

}  // namespace qj

#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "window/window_model.h"

namespace qj {

// The colours of one cell of a report list, set by SetListRowColour.
struct RowColourEntry {
    int row = 0;     // from 0
    int column = 0;  // from 0
    Colour text = 0;
    Colour background = 0;

    bool operator==(const RowColourEntry&) const = default;
};

// The cells that carry colours other than their list's own, one entry per cell, in the order they
// were first coloured. Entries outlive the rows they were set for: a row that comes back at the
// same index is coloured anew by whoever fills it. Safe from any thread.
class RowColourTable {
public:
    // Sets the colours of a cell: a cell set to the list's own colours (`plain`) loses its entry,
    // any other cell gets one or has it overwritten. Returns the entry in force afterwards.
    std::optional<RowColourEntry> Set(int row, int column, Colour text, Colour background, bool plain);
    std::optional<RowColourEntry> Find(int row, int column) const;
    std::vector<RowColourEntry> Entries() const;
    // Empties the table and gives its memory back (exit).
    void Release();

private:
    mutable std::mutex mutex_;
    std::vector<RowColourEntry> entries_;
};

// The text colours of the advert rows, by draw (1 to 5, DrawAdvertColourNumber): red, blue, violet,
// green, black.
inline constexpr Colour kAdvertColours[] = {0x0000FF, 0xFF0000, 0xFF0090, 0x00FF00, 0x000000};
// The colour of a draw; black for a draw outside 1 to 5.
Colour AdvertColour(int draw);

// Colours one cell of a report list of `window` and records it in `colours`. Without a background
// the list's own is meant; a cell whose colours both equal the list's own shows them and keeps no
// entry.
void SetListRowColour(WindowModel& window, RowColourTable& colours, const Text& list, int row, int column, Colour text,
                      std::optional<Colour> background = std::nullopt);

}  // namespace qj

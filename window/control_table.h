#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "window/window_model.h"

namespace qj {

enum class Alignment { kLeft, kCentre, kRight };

// One column of a report-view list.
struct ListColumn {
    const char* header = "";
    int width = 0;
    Alignment alignment = Alignment::kLeft;
};

// One control of a window, declared as data. Both the Qt window and the in-memory window are built
// from a table of these, in the window's control order. Texts are GBK.
struct ControlRow {
    const char* name = "";
    const char* kind = "";    // one of the kind names of window_model.h
    const char* parent = "";  // "" for the window itself, else a tab control or group box name
    int page = -1;            // tab page of a control whose parent is a tab control
    int left = 0, top = 0, width = 0, height = 0;
    const char* caption = "";  // caption or initial content
    // A caption only known at run time (it names deployment addresses); replaces `caption`.
    Text (*captionFrom)() = nullptr;
    std::optional<Colour> textColour{};
    bool checked = false;    // check and radio boxes
    bool multiLine = false;  // edit boxes: wrap, Enter makes a new line; labels: wrap, top-aligned
    int keptLines = 0;       // multi-line edit boxes: at most this many last lines are kept (see
                             // KeepLastLines); 0: all
    bool bold = false;
    int fontPixels = 0;                     // 0: the window's font size
    std::span<const char* const> pages{};   // tab controls: page captions in order
    int shownPage = 0;                      // tab controls: the page shown when the window opens
    std::span<const ListColumn> columns{};  // list views
};

using ControlTable = std::span<const ControlRow>;

inline bool IsKind(const ControlRow& row, const char* kindName) {
    return std::string_view(row.kind) == kindName;
}

// An edit box of one line: the box whose text WithoutLineBreaks keeps clean.
inline bool IsSingleLineEdit(const ControlRow& row) {
    return IsKind(row, kind::kEdit) && !row.multiLine;
}

inline Text CaptionOf(const ControlRow& row) {
    return row.captionFrom ? row.captionFrom() : Text(row.caption);
}

// A top-level window: its title (GBK) and its controls in control order.
struct WindowLayout {
    const char* title = "";
    ControlTable controls;
};

struct ClientSize {
    int width = 0;
    int height = 0;
};

// The size of a window's client area: it holds every top-level control.
ClientSize ClientSizeOf(const WindowLayout& layout);

// Why a window cannot be built from the table: a duplicate name, an unknown kind, a parent that is
// no tab control or group box, a page the tab control lacks, parents that contain each other.
// Empty when it can be built.
Text TableProblem(ControlTable controls);

// The rows of a table that TableProblem accepts, each container before what it holds, otherwise
// in control order.
std::vector<const ControlRow*> BuildOrder(ControlTable controls);

}  // namespace qj

#pragma once

#include <optional>
#include <span>

#include "app/window_model.h"

namespace qj {

// One control of a window, declared as data. Both the Qt window and the in-memory window are built
// from a table of these, in the window's control order. Texts are GBK.
struct ControlSpec {
    const char* name = "";
    const char* kind = "";        // one of the kind names of window_model.h
    const char* parent = "";      // "" for the window itself, else a tab control or group box name
    int page = -1;                // tab page of a control whose parent is a tab control
    int left = 0, top = 0, width = 0, height = 0;
    const char* caption = "";     // caption or initial content
    std::optional<Colour> textColour{};
    bool checked = false;         // check and radio boxes
    bool multiLine = false;       // edit boxes
    bool bold = false;
    int fontPixels = 0;           // 0: the default font size
};

using ControlTable = std::span<const ControlSpec>;

}  // namespace qj

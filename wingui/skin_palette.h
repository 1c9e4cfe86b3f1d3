#pragma once

#include <optional>
#include <string_view>

#include "window/window_model.h"

namespace qj::wingui {

// The colours the native window takes from a skin style sheet: native controls have no style sheet,
// so the colours of the rules that matter to them are read out and handed to the controls' colour
// messages.
struct SkinPalette {
    Colour panel = RgbColour(0xF0, 0xF0, 0xF0);  // the window's own background
    Colour pane = RgbColour(0xF0, 0xF0, 0xF0);   // the body of a tab control
    Colour text = RgbColour(0, 0, 0);            // captions of labels, check and radio boxes
    Colour groupTitle = RgbColour(0, 0, 0);      // captions of group boxes
};

// The colour `property` has in the first rule whose selector list starts with `selector`, when it is
// written "#rrggbb"; none otherwise.
std::optional<Colour> RuleColour(std::string_view styleSheet, std::string_view selector, std::string_view property);

// The palette of a style sheet with its colours adjusted as the skin's colour adjustment does it
// (hue -180..180, saturation -100..100); a colour the sheet lacks keeps the system-like default.
SkinPalette PaletteOfSkin(std::string_view styleSheet, int hue = 0, int saturation = 0);

}  // namespace qj::wingui

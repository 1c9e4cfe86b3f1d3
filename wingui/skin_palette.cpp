#include "wingui/skin_palette.h"

#include <string>

#include "skin/colour_shift.h"

namespace qj::wingui {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<Colour> RuleColour(std::string_view styleSheet, std::string_view selector, std::string_view property) {
    std::size_t at = 0;
    while ((at = styleSheet.find(selector, at)) != std::string_view::npos) {
        // A selector starts a line and is followed by a separator, not by more of a longer name.
        const bool startsLine = at == 0 || styleSheet[at - 1] == '\n';
        const std::size_t after = at + selector.size();
        const bool ends = after < styleSheet.size() &&
                          (styleSheet[after] == ' ' || styleSheet[after] == ',' || styleSheet[after] == '{');
        const std::size_t open = styleSheet.find('{', at);
        const std::size_t close = styleSheet.find('}', open == std::string_view::npos ? at : open);
        if (open == std::string_view::npos || close == std::string_view::npos) {
            return std::nullopt;
        }
        if (startsLine && ends) {
            const std::string_view body = styleSheet.substr(open + 1, close - open - 1);
            std::size_t line = 0;
            while (line < body.size()) {
                std::size_t end = body.find(';', line);
                if (end == std::string_view::npos) {
                    end = body.size();
                }
                std::string_view declaration = body.substr(line, end - line);
                const std::size_t first = declaration.find_first_not_of(" \t\r\n");
                declaration.remove_prefix(first == std::string_view::npos ? declaration.size() : first);
                if (declaration.starts_with(property) && declaration.substr(property.size()).starts_with(':')) {
                    const std::size_t hash = declaration.find('#');
                    if (hash != std::string_view::npos && hash + 7 <= declaration.size()) {
                        int v[6];
                        bool hex = true;
                        for (int i = 0; i < 6; ++i) {
                            v[i] = HexValue(declaration[hash + 1 + i]);
                            hex = hex && v[i] >= 0;
                        }
                        if (hex) {
                            return RgbColour(v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]);
                        }
                    }
                    return std::nullopt;
                }
                line = end + 1;
            }
        }
        at = close;
    }
    return std::nullopt;
}

SkinPalette PaletteOfSkin(std::string_view styleSheet, int hue, int saturation) {
    const std::string shifted = ShiftStyleSheetColours(styleSheet, ClampHue(hue), ClampSaturation(saturation), 0);
    SkinPalette palette;
    auto take = [&](Colour& into, std::string_view selector, std::string_view property) {
        if (const std::optional<Colour> colour = RuleColour(shifted, selector, property)) {
            into = *colour;
        }
    };
    take(palette.panel, "QMainWindow", "background-color");
    take(palette.pane, "QTabWidget::pane", "background-color");
    take(palette.text, "QTabBar::tab", "color");
    take(palette.groupTitle, "QGroupBox::title", "color");
    return palette;
}

}  // namespace qj::wingui

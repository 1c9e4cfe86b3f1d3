#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qj {

inline constexpr int kHueLimit = 180;         // degrees either way
inline constexpr int kSaturationLimit = 100;  // percent either way
inline constexpr int kBrightnessLimit = 100;  // percent either way

int ClampHue(int hue);
int ClampSaturation(int saturation);
int ClampBrightness(int brightness);

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    bool operator==(const Rgb&) const = default;
};

// A colour adjusted as a skin's colour adjustment does it: the hue turned by `hue` degrees, the
// saturation scaled by (100 + saturation) percent (-100 leaves grey, greys stay grey), the lightness
// moved `brightness` percent of the way towards white (or black, when negative). Arguments beyond
// their limits count as the limit; 0, 0, 0 returns the colour unchanged.
Rgb ShiftColour(Rgb colour, int hue, int saturation, int brightness);

// A style sheet with every colour of its declarations shifted by ShiftColour: "#rgb", "#rrggbb",
// "#aarrggbb" (alpha kept) and "rgb(r, g, b)" / "rgba(r, g, b, a)" with integer components. Other
// colour notations, selectors, comments and quoted strings are left as they are; with 0, 0, 0
// the text comes back unchanged.
std::string ShiftStyleSheetColours(std::string_view styleSheet, int hue, int saturation, int brightness);

}  // namespace qj

#include "skin/colour_shift.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>

#include "text/ascii.h"

namespace qj {

int ClampHue(int hue) {
    return std::clamp(hue, -kHueLimit, kHueLimit);
}
int ClampSaturation(int saturation) {
    return std::clamp(saturation, -kSaturationLimit, kSaturationLimit);
}
int ClampBrightness(int brightness) {
    return std::clamp(brightness, -kBrightnessLimit, kBrightnessLimit);
}

namespace {

struct Hsl {
    double hue;  // degrees, [0, 360)
    double saturation;
    double lightness;
};

Hsl ToHsl(Rgb colour) {
    const double r = colour.red / 255.0;
    const double g = colour.green / 255.0;
    const double b = colour.blue / 255.0;
    const double high = std::max({r, g, b});
    const double low = std::min({r, g, b});
    const double lightness = (high + low) / 2;
    const double chroma = high - low;
    if (chroma == 0) {
        return {0, 0, lightness};
    }
    const double saturation = chroma / (1 - std::fabs(2 * lightness - 1));
    double hue = 0;
    if (high == r) {
        hue = std::fmod((g - b) / chroma, 6.0);
    } else if (high == g) {
        hue = (b - r) / chroma + 2;
    } else {
        hue = (r - g) / chroma + 4;
    }
    hue *= 60;
    if (hue < 0) {
        hue += 360;
    }
    return {hue, saturation, lightness};
}

std::uint8_t ToByte(double channel) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(channel, 0.0, 1.0) * 255));
}

Rgb ToRgb(Hsl colour) {
    const double chroma = (1 - std::fabs(2 * colour.lightness - 1)) * colour.saturation;
    const double sector = colour.hue / 60;
    const double second = chroma * (1 - std::fabs(std::fmod(sector, 2.0) - 1));
    // Channels in each sixth of the hue circle, from red round to magenta.
    const double sextants[6][3] = {{chroma, second, 0}, {second, chroma, 0}, {0, chroma, second},
                                   {0, second, chroma}, {second, 0, chroma}, {chroma, 0, second}};
    const double* channel = sextants[static_cast<int>(sector) % 6];
    const double match = colour.lightness - chroma / 2;
    return {ToByte(channel[0] + match), ToByte(channel[1] + match), ToByte(channel[2] + match)};
}

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
}

// Shifts colours one at a time, writing the sheet to `out` as it goes.
class StyleSheetShifter {
public:
    StyleSheetShifter(std::string_view sheet, int hue, int saturation, int brightness)
        : sheet_(sheet), hue_(hue), saturation_(saturation), brightness_(brightness) {}

    std::string Run() {
        out_.reserve(sheet_.size());
        int depth = 0;
        while (at_ < sheet_.size()) {
            const char c = sheet_[at_];
            if (c == '/' && at_ + 1 < sheet_.size() && sheet_[at_ + 1] == '*') {
                const std::size_t close = sheet_.find("*/", at_ + 2);
                CopyUpTo(close == std::string_view::npos ? sheet_.size() : close + 2);
            } else if (c == '"' || c == '\'') {
                const std::size_t close = sheet_.find(c, at_ + 1);
                CopyUpTo(close == std::string_view::npos ? sheet_.size() : close + 1);
            } else if (c == '{' || c == '}') {
                depth = std::max(0, depth + (c == '{' ? 1 : -1));
                CopyUpTo(at_ + 1);
            } else if (depth == 0 || !ShiftColourHere()) {
                CopyUpTo(at_ + 1);
            }
        }
        return std::move(out_);
    }

private:
    void CopyUpTo(std::size_t end) {
        out_.append(sheet_.substr(at_, end - at_));
        at_ = end;
    }

    // Inside a declaration block: shifts the colour that starts here, if one does.
    bool ShiftColourHere() {
        if (sheet_[at_] == '#') {
            return ShiftHexColour();
        }
        return (at_ == 0 || !IsIdentifierChar(sheet_[at_ - 1])) && ShiftRgbFunction();
    }

    Rgb Shift(Rgb colour) const { return ShiftColour(colour, hue_, saturation_, brightness_); }

    bool ShiftHexColour() {
        std::size_t end = at_ + 1;
        while (end < sheet_.size() && HexDigitValue(sheet_[end]) >= 0) {
            ++end;
        }
        const std::size_t digits = end - at_ - 1;
        if ((digits != 3 && digits != 6 && digits != 8) || (end < sheet_.size() && IsIdentifierChar(sheet_[end]))) {
            return false;
        }
        auto digit = [&](std::size_t i) { return HexDigitValue(sheet_[at_ + 1 + i]); };
        auto pair = [&](std::size_t i) { return digit(i) * 16 + digit(i + 1); };
        std::string_view alpha;
        Rgb colour;
        if (digits == 3) {
            colour = {static_cast<std::uint8_t>(digit(0) * 17), static_cast<std::uint8_t>(digit(1) * 17),
                      static_cast<std::uint8_t>(digit(2) * 17)};
        } else {
            const std::size_t first = digits == 8 ? 2 : 0;
            if (digits == 8) {
                alpha = sheet_.substr(at_ + 1, 2);
            }
            colour = {static_cast<std::uint8_t>(pair(first)), static_cast<std::uint8_t>(pair(first + 2)),
                      static_cast<std::uint8_t>(pair(first + 4))};
        }
        const Rgb shifted = Shift(colour);
        char text[8];
        std::snprintf(text, sizeof text, "%02x%02x%02x", shifted.red, shifted.green, shifted.blue);
        out_ += '#';
        out_ += alpha;
        out_ += text;
        at_ = end;
        return true;
    }

    void SkipSpaces(std::size_t& i) const {
        while (i < sheet_.size() && std::isspace(static_cast<unsigned char>(sheet_[i]))) {
            ++i;
        }
    }

    std::optional<int> Component(std::size_t& i) const {
        SkipSpaces(i);
        std::size_t start = i;
        int value = 0;
        while (i < sheet_.size() && std::isdigit(static_cast<unsigned char>(sheet_[i])) && i - start < 3) {
            value = value * 10 + (sheet_[i] - '0');
            ++i;
        }
        if (i == start || value > 255) {
            return std::nullopt;
        }
        SkipSpaces(i);
        return value;
    }

    bool ShiftRgbFunction() {
        std::size_t i = at_;
        auto keyword = [&](std::string_view word) {
            if (sheet_.size() - i < word.size()) {
                return false;
            }
            for (std::size_t k = 0; k < word.size(); ++k) {
                if (LowerAscii(sheet_[i + k]) != word[k]) {
                    return false;
                }
            }
            i += word.size();
            return true;
        };
        const bool withAlpha = keyword("rgba(");
        if (!withAlpha && !keyword("rgb(")) {
            return false;
        }
        int channels[3];
        for (int k = 0; k < 3; ++k) {
            const std::optional<int> value = Component(i);
            const char expected = (k < 2 || withAlpha) ? ',' : ')';
            if (!value || i >= sheet_.size() || sheet_[i] != expected) {
                return false;
            }
            channels[k] = *value;
            ++i;
        }
        std::string_view alpha;
        if (withAlpha) {
            const std::size_t close = sheet_.find_first_not_of("0123456789.% \t\r\n", i);
            if (close == std::string_view::npos || sheet_[close] != ')') {
                return false;
            }
            alpha = sheet_.substr(i, close - i);
            alpha.remove_prefix(std::min(alpha.find_first_not_of(" \t\r\n"), alpha.size()));
            alpha.remove_suffix(alpha.size() - std::min(alpha.find_last_not_of(" \t\r\n") + 1, alpha.size()));
            i = close + 1;
        }
        const Rgb shifted = Shift({static_cast<std::uint8_t>(channels[0]), static_cast<std::uint8_t>(channels[1]),
                                   static_cast<std::uint8_t>(channels[2])});
        char text[48];
        std::snprintf(text, sizeof text, "%d, %d, %d", shifted.red, shifted.green, shifted.blue);
        out_ += withAlpha ? "rgba(" : "rgb(";
        out_ += text;
        if (withAlpha) {
            out_ += ", ";
            out_ += alpha;
        }
        out_ += ')';
        at_ = i;
        return true;
    }

    std::string_view sheet_;
    int hue_;
    int saturation_;
    int brightness_;
    std::size_t at_ = 0;
    std::string out_;
};

}  // namespace

Rgb ShiftColour(Rgb colour, int hue, int saturation, int brightness) {
    hue = ClampHue(hue);
    saturation = ClampSaturation(saturation);
    brightness = ClampBrightness(brightness);
    if (hue == 0 && saturation == 0 && brightness == 0) {
        return colour;
    }
    Hsl hsl = ToHsl(colour);
    hsl.hue = std::fmod(hsl.hue + hue + 360, 360.0);
    hsl.saturation = std::clamp(hsl.saturation * (100 + saturation) / 100, 0.0, 1.0);
    hsl.lightness = brightness >= 0 ? hsl.lightness + (1 - hsl.lightness) * brightness / 100
                                    : hsl.lightness * (100 + brightness) / 100;
    return ToRgb(hsl);
}

std::string ShiftStyleSheetColours(std::string_view styleSheet, int hue, int saturation, int brightness) {
    if (ClampHue(hue) == 0 && ClampSaturation(saturation) == 0 && ClampBrightness(brightness) == 0) {
        return std::string(styleSheet);
    }
    return StyleSheetShifter(styleSheet, hue, saturation, brightness).Run();
}

}  // namespace qj

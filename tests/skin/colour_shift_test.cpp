#include "skin/colour_shift.h"

#include <gtest/gtest.h>

#include <climits>
#include <regex>

#include "skin/builtin_skin.h"

namespace qj {
namespace {

void ExpectNear(Rgb actual, Rgb expected) {
    EXPECT_NEAR(actual.red, expected.red, 1);
    EXPECT_NEAR(actual.green, expected.green, 1);
    EXPECT_NEAR(actual.blue, expected.blue, 1);
}

TEST(ColourShiftTest, ClampsEachValueToItsRange) {
    EXPECT_EQ(ClampHue(200), 180);
    EXPECT_EQ(ClampHue(-200), -180);
    EXPECT_EQ(ClampHue(180), 180);
    EXPECT_EQ(ClampHue(-37), -37);
    EXPECT_EQ(ClampHue(INT_MAX), 180);
    EXPECT_EQ(ClampHue(INT_MIN), -180);
    EXPECT_EQ(ClampSaturation(-150), -100);
    EXPECT_EQ(ClampSaturation(101), 100);
    EXPECT_EQ(ClampSaturation(-100), -100);
    EXPECT_EQ(ClampSaturation(55), 55);
    EXPECT_EQ(ClampSaturation(INT_MIN), -100);
    EXPECT_EQ(ClampBrightness(1000), 100);
}

TEST(ColourShiftTest, NoShiftLeavesEveryColourAlone) {
    for (Rgb colour : {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{0x2f, 0x6d, 0xb5}, Rgb{1, 2, 3}, Rgb{0xe8, 0xee, 0xf7}}) {
        EXPECT_EQ(ShiftColour(colour, 0, 0, 0), colour);
    }
}

TEST(ColourShiftTest, TurnsTheHue) {
    ExpectNear(ShiftColour({255, 0, 0}, 120, 0, 0), {0, 255, 0});
    ExpectNear(ShiftColour({255, 0, 0}, -120, 0, 0), {0, 0, 255});
    ExpectNear(ShiftColour({0, 0, 255}, 180, 0, 0), {255, 255, 0});
    ExpectNear(ShiftColour({0, 0, 255}, -180, 0, 0), {255, 255, 0});
    // A pale blue stays pale: only the hue moves.
    ExpectNear(ShiftColour({0xcc, 0xdd, 0xff}, 180, 0, 0), {0xff, 0xee, 0xcc});
}

TEST(ColourShiftTest, ScalesTheSaturationAndKeepsGreysGrey) {
    ExpectNear(ShiftColour({0x33, 0x66, 0xcc}, 0, -100, 0), {0x80, 0x80, 0x80});
    ExpectNear(ShiftColour({0xc0, 0x40, 0x40}, 0, 100, 0), {0xff, 0x01, 0x01});
    ExpectNear(ShiftColour({0xc0, 0x40, 0x40}, 0, -50, 0), {0xa0, 0x60, 0x60});
    for (Rgb grey : {Rgb{0, 0, 0}, Rgb{0x80, 0x80, 0x80}, Rgb{0xf0, 0xf0, 0xf0}, Rgb{255, 255, 255}}) {
        EXPECT_EQ(ShiftColour(grey, 90, 100, 0), grey);
        EXPECT_EQ(ShiftColour(grey, -45, -60, 0), grey);
    }
}

TEST(ColourShiftTest, MovesTheLightness) {
    ExpectNear(ShiftColour({0x2f, 0x6d, 0xb5}, 0, 0, 100), {255, 255, 255});
    ExpectNear(ShiftColour({0x2f, 0x6d, 0xb5}, 0, 0, -100), {0, 0, 0});
    ExpectNear(ShiftColour({0x80, 0x80, 0x80}, 0, 0, 50), {0xc0, 0xc0, 0xc0});
}

TEST(ColourShiftTest, ValuesBeyondTheLimitsCountAsTheLimits) {
    const Rgb colour{0x2f, 0x6d, 0xb5};
    EXPECT_EQ(ShiftColour(colour, 200, -150, 0), ShiftColour(colour, 180, -100, 0));
    EXPECT_EQ(ShiftColour(colour, INT_MIN, INT_MAX, INT_MAX), ShiftColour(colour, -180, 100, 100));
    EXPECT_EQ(ShiftStyleSheetColours("a { color: #2f6db5; }", 999, 0, 0),
              ShiftStyleSheetColours("a { color: #2f6db5; }", 180, 0, 0));
}

TEST(StyleSheetShiftTest, ShiftsEveryColourNotationOfADeclaration) {
    const std::string sheet =
        "QWidget { color: #ff0000; background: #F00; border: 1px solid #80FF0000; }\n"
        "QLabel { color: rgb(255, 0, 0); background-color: RGBA( 255 ,0,0 , 0.5 ); }\n"
        "QPushButton { background: qlineargradient(x1: 0, y1: 0, stop: 0 #ff0000, stop: 1 #0000ff); }";
    EXPECT_EQ(ShiftStyleSheetColours(sheet, 120, 0, 0),
              "QWidget { color: #00ff00; background: #00ff00; border: 1px solid #8000ff00; }\n"
              "QLabel { color: rgb(0, 255, 0); background-color: rgba(0, 255, 0, 0.5); }\n"
              "QPushButton { background: qlineargradient(x1: 0, y1: 0, stop: 0 #00ff00, stop: 1 #ff0000); }");
}

TEST(StyleSheetShiftTest, LeavesWhatIsNotAColourOfADeclaration) {
    const std::string untouched[] = {
        "QPushButton#ff0000 { }",                             // a selector
        "/* #ff0000 */ a { /* rgb(255, 0, 0) */ }",           // comments
        "a { image: url(\"#ff0000\"); b: 'rgb(255,0,0)'; }",  // quoted strings
        "a { c: #ff00; d: #ff00000; e: #ff0000aa00; f: #ff0000x; g: #fg0000; }",
        "a { c: rgb(300, 0, 0); d: rgb(10%, 0, 0); e: torgb(255, 0, 0); f: rgb(1, 2 3); g: rgb(1, 2, 3, 4); }",
        "a { c: rgba(1, 2, 3, 4 }",
        "a { c: rgb(1, 2",
        "a { c: #",
        "a { c: rgba(",
        "}}} #ff0000 {{",
        "",
    };
    for (const std::string& sheet : untouched) {
        EXPECT_EQ(ShiftStyleSheetColours(sheet, 90, 50, 0), sheet);
    }
    // A broken colour does not swallow the declarations after it.
    EXPECT_EQ(ShiftStyleSheetColours("a { c: rgba(1, 2, 3, 4 } b { d: rgb(255, 0, 0) }", 120, 0, 0),
              "a { c: rgba(1, 2, 3, 4 } b { d: rgb(0, 255, 0) }");
    const std::string sheet = "a{color:#123456;}\r\n\tb {\n}";
    EXPECT_EQ(ShiftStyleSheetColours(sheet, 0, 0, 0), sheet);
}

TEST(StyleSheetShiftTest, ShiftsTheBuiltInSkinWithoutTouchingAnythingElse) {
    const std::string skin(BuiltInSkin());
    EXPECT_EQ(ShiftStyleSheetColours(skin, 0, 0, 0), skin);

    const std::string shifted = ShiftStyleSheetColours(skin, 180, 20, 0);
    const std::regex hexColour("#[0-9a-fA-F]{6}\\b");
    EXPECT_EQ(std::regex_replace(shifted, hexColour, "#"), std::regex_replace(skin, hexColour, "#"));
    // Every colour of the skin with a hue is turned; the skin's blue accents become orange.
    auto colours = [&](const std::string& text) {
        std::vector<std::string> found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), hexColour); it != std::sregex_iterator(); ++it) {
            found.push_back(it->str());
        }
        return found;
    };
    const std::vector<std::string> before = colours(skin);
    const std::vector<std::string> after = colours(shifted);
    ASSERT_EQ(before.size(), after.size());
    ASSERT_GT(before.size(), 10u);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const unsigned long value = std::stoul(before[i].substr(1), nullptr, 16);
        const bool grey = (value >> 16 & 0xFF) == (value >> 8 & 0xFF) && (value >> 8 & 0xFF) == (value & 0xFF);
        EXPECT_EQ(before[i] == after[i], grey) << before[i] << " -> " << after[i];
    }
    EXPECT_NE(skin.find("#2f6db5"), std::string::npos);
    ExpectNear(ShiftColour({0x2f, 0x6d, 0xb5}, 180, 0, 0), {0xb5, 0x77, 0x2f});
}

}  // namespace
}  // namespace qj

// The native window: the conformance suites, and what only the native window does (the user's
// clicks, pages, colours).

#include "wingui/win32_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "skin/builtin_skin.h"
#include "skin/colour_shift.h"
#include "toolkit_window_conformance.h"
#include "win32_pump.h"
#include "window_conformance.h"
#include "wingui/skin_palette.h"

namespace qj::testing {

struct Win32WindowMaker {
    static std::unique_ptr<ToolkitWindow> Make(const WindowLayout& layout) {
        return wingui::Win32Window::Create(layout, {});
    }
    static bool WidgetGone(ToolkitWindow& window, const Text& name) {
        return dynamic_cast<wingui::Win32Window&>(window).Control(name) == nullptr;
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Window, WindowConformance, Win32WindowMaker);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32Window, ToolkitWindowConformance, Win32WindowMaker);

namespace {

using wingui::Win32Window;

struct Recorded {
    std::vector<Text> clicks;
    std::vector<int> pages;
    int doubleClicks = 0;
};

// Clicks a control with the mouse as the user does. The conformance layout gives no sizes, and a
// click lands only inside a control.
void Click(Win32Window& window, const Text& name) {
    HWND control = window.Control(name);
    SetWindowPos(control, nullptr, 0, 0, 80, 24, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control, BM_CLICK, 0, 0);
}

WindowEvents RecordingEvents(Recorded& recorded) {
    return {
        .clicked = [&recorded](WindowModel&, const Text& name) { recorded.clicks.push_back(name); },
        .pageSwitched = [&recorded](WindowModel&, const Text&, int page) { recorded.pages.push_back(page); },
        .doubleClicked = [&recorded](WindowModel&, const Text&) { ++recorded.doubleClicks; },
    };
}

TEST(Win32Window, TheUsersClicksPagesAndDoubleClicksReachTheProgram) {
    Recorded recorded;
    auto window = Win32Window::Create(ConformanceLayout(), RecordingEvents(recorded));
    ASSERT_TRUE(window);
    // A click reaches only a control on the screen.
    window->ShowCentred();
    Click(*window, conformance::kButton);
    Click(*window, conformance::kCheck);
    Click(*window, conformance::kRadioTwo);
    EXPECT_EQ(recorded.clicks,
              (std::vector<Text>{conformance::kButton, conformance::kCheck, conformance::kRadioTwo}));
    EXPECT_EQ(window->GetNumber(conformance::kCheck, kPropChecked), 1);
    // A click checks a radio box and unchecks the others of its group only.
    EXPECT_EQ(window->GetNumber(conformance::kRadioTwo, kPropChecked), 1);
    EXPECT_EQ(window->GetNumber(conformance::kRadioOne, kPropChecked), 0);

    // The user's page switch is an event and shows that page; the program's is not.
    HWND tab = window->Control(conformance::kTab);
    SendMessageW(tab, TCM_SETCURFOCUS, 2, 0);
    EXPECT_EQ(recorded.pages, std::vector<int>{2});
    EXPECT_EQ(window->CurrentTabPage(conformance::kTab), 2);
    window->SetCurrentTabPage(conformance::kTab, 0);
    EXPECT_EQ(recorded.pages, std::vector<int>{2});

    NMITEMACTIVATE activate{};
    activate.hdr.hwndFrom = window->Control(conformance::kList);
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = -1;
    SendMessageW(window->TopLevel(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&activate));
    EXPECT_EQ(recorded.doubleClicks, 1);

    // A line break pasted into a one-line box is dropped, the caret kept after the pasted text.
    HWND edit = window->Control(conformance::kLine);
    SetWindowTextW(edit, L"ab");
    SendMessageW(edit, EM_SETSEL, 1, 1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x\r\ny"));
    EXPECT_EQ(window->GetText(conformance::kLine, kPropContent), "axyb");
    DWORD caret = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    EXPECT_EQ(caret, 3u);
}

TEST(Win32Window, CellsAreDrawnInTheirOwnColoursElseTheLists) {
    auto window = Win32Window::Create(ConformanceLayout(), {});
    ASSERT_TRUE(window);
    for (int i = 0; i < 3; ++i) {
        window->ListAddRow(conformance::kList, std::to_string(i));
    }
    const Colour red = RgbColour(0xFF, 0, 0);
    const Colour yellow = RgbColour(0xFF, 0xFF, 0);
    window->ListSetCellColours(conformance::kList, 1, 1, red, std::nullopt);
    window->ListSetCellColours(conformance::kList, 2, 0, std::nullopt, yellow);
    const auto plain = std::make_pair(RgbColour(0, 0, 0), RgbColour(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(window->ListCellDrawColours(conformance::kList, 1, 1), std::make_pair(red, plain.second));
    EXPECT_EQ(window->ListCellDrawColours(conformance::kList, 2, 0), std::make_pair(plain.first, yellow));
    EXPECT_EQ(window->ListCellDrawColours(conformance::kList, 1, 0), plain);
    window->ListClear(conformance::kList);
    window->ListAddRow(conformance::kList, "0");
    window->ListAddRow(conformance::kList, "1");
    EXPECT_EQ(window->ListCellDrawColours(conformance::kList, 1, 1), plain);
}

TEST(Win32Window, SkinColoursFollowTheHueAndSaturationOfTheSkin) {
    const wingui::SkinPalette plain = wingui::PaletteOfSkin(BuiltInSkin());
    EXPECT_EQ(plain.panel, RgbColour(0xE8, 0xEE, 0xF7));
    EXPECT_EQ(plain.pane, RgbColour(0xF6, 0xF9, 0xFD));
    EXPECT_EQ(plain.text, RgbColour(0x1B, 0x28, 0x38));
    auto shifted = [](Colour c, int hue, int saturation) {
        const Rgb rgb = ShiftColour({static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8 & 0xFF),
                                     static_cast<std::uint8_t>(c >> 16 & 0xFF)},
                                    hue, saturation, 0);
        return RgbColour(rgb.red, rgb.green, rgb.blue);
    };
    for (const auto& [hue, saturation] : {std::pair{120, 0}, std::pair{-90, 50}, std::pair{400, -300}}) {
        const wingui::SkinPalette palette = wingui::PaletteOfSkin(BuiltInSkin(), hue, saturation);
        const int h = ClampHue(hue);
        const int s = ClampSaturation(saturation);
        EXPECT_EQ(palette.panel, shifted(plain.panel, h, s));
        EXPECT_EQ(palette.pane, shifted(plain.pane, h, s));
        EXPECT_EQ(palette.groupTitle, shifted(plain.groupTitle, h, s));
    }
}

}  // namespace
}  // namespace qj::testing

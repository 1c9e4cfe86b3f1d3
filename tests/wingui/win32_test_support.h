#pragma once

// The main window on native controls as start-up opens it, driven as the user drives it, for tests
// of the program through that window.

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "skin/builtin_skin.h"
#include "win32_pump.h"
#include "wingui/win32_window.h"

namespace qj::testing {

// Built from the table with the program's handlers and the skin's colours, its created sequence
// run, shown, and the process-wide main window while it lives. What the window asks the desktop to
// open is recorded instead.
class OpenedMainWindow {
public:
    OpenedMainWindow() {
        window_ =
            wingui::Win32Window::Create(MainWindowLayout(), MainWindowEvents(), wingui::PaletteOfSkin(BuiltInSkin()));
        window_->SetOpener([this](const Text& target) { opened.push_back(target); });
        SetMainWindow(window_.get());
        OnMainWindowCreated(*window_);
        window_->ShowCentred();
    }
    ~OpenedMainWindow() { SetMainWindow(nullptr); }

    wingui::Win32Window& operator*() { return *window_; }
    wingui::Win32Window* operator->() { return window_.get(); }

    // Clicks a control with the mouse, its tab page shown first.
    void Click(const char* name) {
        const ControlRow* row = window_->RowOf(name);
        if (row && std::string_view(row->parent) == control::kTabMain) {
            window_->SetCurrentTabPage(control::kTabMain, row->page);
        }
        SendMessageW(window_->Control(name), BM_CLICK, 0, 0);
    }

    // Clicks a tab of the main tab control, as the user switches pages.
    void ClickTab(int page) { SendMessageW(window_->Control(control::kTabMain), TCM_SETCURFOCUS, page, 0); }

    // Types into an edit box: the text replaces the selection, as typing and pasting do.
    void Type(const char* name, const wchar_t* text) {
        HWND edit = window_->Control(name);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }

    // Double-clicks a row of a list with the mouse.
    void DoubleClickRow(const char* name, int row) {
        HWND list = window_->Control(name);
        RECT item{};
        item.left = LVIR_LABEL;
        SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
    }

    bool WaitFor(const std::function<bool()>& condition) { return PumpUntil(*window_, condition); }

    std::vector<Text> opened;

private:
    std::unique_ptr<wingui::Win32Window> window_;
};

}  // namespace qj::testing

#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "window/toolkit_window.h"
#include "wingui/skin_palette.h"
#include "wingui/win32_api.h"

namespace qj::wingui {

// The window on native Win32 controls, built from a window layout, behind the window model. The
// window thread must run a message loop (or sit in a modal one) for calls from other threads to be
// carried out (see ToolkitWindow); the window closes with Close or when the user closes it.
//
// Its parts: building the controls (win32_window_build.cpp), the messages of the window and its
// controls (win32_window_messages.cpp), the colours they are drawn in (win32_window_colours.cpp),
// and the window model on the controls (win32_window.cpp).
class Win32Window final : public ToolkitWindow {
public:
    // Builds the window (hidden) on the calling thread; null (and the reason in `error`) when the
    // table cannot be built: a duplicate name, an unknown kind or parent, a page out of range, or a
    // control the system refused to create.
    static std::unique_ptr<Win32Window> Create(const WindowLayout& layout, WindowEvents events,
                                               const SkinPalette& palette = {}, Text* error = nullptr);
    ~Win32Window() override;

    Text GetText(const Text& name, int property) const override;
    void SetText(const Text& name, int property, const Text& value) override;
    long long GetNumber(const Text& name, int property) const override;
    void SetNumber(const Text& name, int property, long long value) override;
    void AppendText(const Text& name, const Text& text) override;
    int CurrentTabPage(const Text& name) const override;
    void SetCurrentTabPage(const Text& name, int page) override;

    int ComboItemCount(const Text& name) const override;
    Text ComboItemText(const Text& name, int index) const override;
    long long ComboItemData(const Text& name, int index) const override;
    void ComboClear(const Text& name) override;
    void ComboAddItem(const Text& name, const Text& text, long long data) override;

    int ListRowCount(const Text& name) const override;
    void ListClear(const Text& name) override;
    int ListAddRow(const Text& name, const Text& firstCell) override;
    Text ListCellText(const Text& name, int row, int column) const override;
    void ListSetCellText(const Text& name, int row, int column, const Text& text) override;
    void ListSetCellColours(const Text& name, int row, int column, std::optional<Colour> text,
                            std::optional<Colour> background) override;
    Colour ListTextColour(const Text& name) const override;
    Colour ListBackgroundColour(const Text& name) const override;

    void MessageBox(const Text& text, const Text& caption, MessageIcon icon) override;
    void ShellOpen(const Text& target) override;
    void ProcessPendingMessages() override;

    bool IsOpen() const override { return window_ != nullptr; }
    // Shows the window centred on the work area of its screen.
    void ShowCentred() override;
    // The thread's message loop until the window is destroyed (Tab and the arrow keys move between
    // the controls, as in a dialog); meanwhile long text collections let the window answer.
    int RunEventLoop() override;

    // Window thread only.
    HWND TopLevel() const { return window_; }
    HWND Control(const Text& name) const;
    // Place and size of a control, in pixels, relative to the parent its table row names: the
    // window's client area, the tab control as a whole (tab strip included) or the group box.
    RECT GeometryInParent(const Text& name) const;
    // The colours a cell is drawn with: its own, else the list's.
    std::pair<Colour, Colour> ListCellDrawColours(const Text& name, int row, int column) const;
    // Pixels per table unit: the system's DPI over 96.
    double Scale() const { return scale_; }
    // What ShellOpen hands its target to instead of the desktop (tests); empty: the desktop.
    void SetOpener(std::function<void(const Text&)> opener) { opener_ = std::move(opener); }

private:
    struct Entry {
        ControlRow row;
        HWND hwnd = nullptr;
        HWND physicalParent = nullptr;  // the window, or the tab control of the control's page
        int physicalLeft = 0;           // place in the physical parent, in table units
        int physicalTop = 0;
        int tabPage = -1;  // tab controls: the page shown
    };
    struct CellColours {
        std::optional<Colour> text;
        std::optional<Colour> background;
    };

    // Building.
    Win32Window(const WindowLayout& layout, WindowEvents events, const SkinPalette& palette);
    bool Build(Text* error);
    bool BuildControl(const ControlRow& row, Text* error) override;
    void SetUpControl(Entry& entry, const RECT& place);
    HFONT FontFor(const ControlRow& row);
    RECT Scaled(int left, int top, int width, int height) const;

    // Lookups and pages.
    Entry* Find(const Text& name);
    const Entry* Find(const Text& name) const;
    const Entry* FindByHandle(HWND hwnd) const;
    bool IsKindOf(const Entry* entry, const char* kindName) const;
    void UpdatePageVisibility();
    bool ShownOnItsPage(const ControlRow& row) const;
    void CheckRadio(const Entry& radio);
    void WakeWindowThread() override;
    void DestroyWidgets() override;

    // Messages.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR data);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Notifications of the controls, whichever window is their parent; nullopt when the message
    // is not ours.
    std::optional<LRESULT> HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void KeepOnOneLine(const Entry& edit);
    void DropFirstLines(const Entry& edit);

    // Colours.
    void CreateBrushes();
    void DeleteBrushes();
    // The colour messages of the controls and the lists' custom drawing; nullopt when the message
    // is not ours.
    std::optional<LRESULT> HandleColourMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Paints the background of the window or of a group box (which the page body under it does not
    // reach) in the skin's colour.
    void EraseBackground(HWND hwnd, HDC dc);

    SkinPalette palette_;
    HWND window_ = nullptr;
    double scale_ = 1.0;
    std::map<Text, Entry> entries_;
    std::map<HWND, Text> names_;
    std::vector<HWND> pagePanels_;
    std::map<std::pair<int, bool>, HFONT> fonts_;
    HBRUSH panelBrush_ = nullptr;
    HBRUSH paneBrush_ = nullptr;
    HBRUSH editBrush_ = nullptr;
    std::map<Text, std::map<std::pair<int, int>, CellColours>> cellColours_;
    bool quitOnDestroy_ = false;
    std::function<void(const Text&)> opener_;
    bool fixingLineBreaks_ = false;
};

// The window's font family: 宋体 where installed, else Microsoft YaHei, else the system's GUI font
// (an empty name).
std::wstring WindowFontFamily();

// Makes the process DPI-aware (system-wide), so the window is laid out and drawn at the screen's
// own resolution rather than scaled up blurred. Once, before any window exists.
void BecomeDpiAware();

}  // namespace qj::wingui

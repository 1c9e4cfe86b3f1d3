#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "window/control_table.h"
#include "wingui/skin_palette.h"
#include "wingui/win32_api.h"

namespace qj::wingui {

// The window on native Win32 controls, built from a window layout, behind the window model.
//
// It belongs to the thread that creates it (the window thread), which must run a message loop (or
// sit in a modal one) for calls from other threads to be carried out. A call from another thread is
// posted to the window and waits until the window thread has run it, so it is synchronous; the
// window thread never waits on another thread, so this cannot deadlock. Once the window is closing
// (Close, or the window destroyed by the user), calls from other threads return at once with empty
// results and calls still queued are released, so no worker waits forever.
class Win32Window final : public WindowModel {
public:
    // Builds the window (hidden) on the calling thread; null (and the reason in `error`) when the
    // table cannot be built: a duplicate name, an unknown kind or parent, a page out of range, or a
    // control the system refused to create.
    static std::unique_ptr<Win32Window> Create(const WindowLayout& layout, WindowEvents events,
                                               const SkinPalette& palette = {}, Text* error = nullptr);
    ~Win32Window() override;

    std::vector<Text> ControlsOfKind(const Text& kindName) const override;
    bool HasControl(const Text& name) const override;
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

    // Window thread only.
    HWND TopLevel() const { return window_; }
    HWND Control(const Text& name) const;
    const ControlRow* RowOf(const Text& name) const;
    // Place and size of a control, in pixels, relative to the parent its table row names: the
    // window's client area, the tab control as a whole (tab strip included) or the group box.
    RECT GeometryInParent(const Text& name) const;
    // The colours a cell is drawn with: its own, else the list's.
    std::pair<Colour, Colour> ListCellDrawColours(const Text& name, int row, int column) const;
    // Pixels per table unit: the system's DPI over 96.
    double Scale() const { return scale_; }
    // Shows the window centred on the work area of its screen.
    void ShowCentred();
    // Calls from other threads now waiting for the window thread.
    std::size_t WaitingCalls() const;
    // Ends cross-thread calls and destroys the window; the object stays valid for late callers.
    // Window thread only; also done by the destructor and when the user closes the window.
    void Close();
    // Whether the window still exists (the user has not closed it).
    bool IsOpen() const { return window_ != nullptr; }
    // The program's main window ends the message loop of its thread when it is destroyed.
    void QuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }
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
    struct PendingCall {
        std::function<void()> work;
        std::mutex mutex;
        std::condition_variable done;
        bool started = false;
        bool finished = false;
        bool cancelled = false;
    };
    struct CellColours {
        std::optional<Colour> text;
        std::optional<Colour> background;
    };

    Win32Window(const WindowLayout& layout, WindowEvents events, const SkinPalette& palette);
    bool Build(Text* error);
    bool BuildControl(Entry& entry, Text* error);
    HFONT FontFor(const ControlRow& row);
    RECT Scaled(int left, int top, int width, int height) const;

    Entry* Find(const Text& name);
    const Entry* Find(const Text& name) const;
    const Entry* FindByHandle(HWND hwnd) const;
    bool IsKindOf(const Entry* entry, const char* kindName) const;
    void UpdatePageVisibility();
    bool ShownOnItsPage(const ControlRow& row) const;
    void CheckRadio(const Entry& radio);
    void BeginClosing();

    // Runs `fn` on the window thread and returns its result; an empty result once closing.
    template <class F>
    auto OnWindowThread(F&& fn) const -> decltype(fn());
    void RunQueuedCalls();

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR data);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Notifications and colour messages of the controls, whichever window is their parent;
    // nullopt when the message is not ours.
    std::optional<LRESULT> HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam);

    WindowLayout layout_;
    WindowEvents events_;
    SkinPalette palette_;
    DWORD threadId_ = 0;
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

    mutable std::mutex callMutex_;
    bool closing_ = false;
    mutable std::deque<std::shared_ptr<PendingCall>> queuedCalls_;
    mutable std::vector<std::shared_ptr<PendingCall>> pendingCalls_;
};

// The window's font family: 宋体 where installed, else Microsoft YaHei, else the system's GUI font
// (an empty name).
std::wstring WindowFontFamily();

// Makes the process DPI-aware (system-wide), so the window is laid out and drawn at the screen's
// own resolution rather than scaled up blurred. Once, before any window exists.
void BecomeDpiAware();

}  // namespace qj::wingui

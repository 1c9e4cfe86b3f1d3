#pragma once

#include <QPointer>
#include <QRect>
#include <QThread>
#include <QWidget>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "window/control_table.h"

namespace qj::gui {

// The real window: Qt widgets built from a window row, behind the window model.
//
// It belongs to the thread that creates it (the GUI thread). A call from another thread runs on
// the GUI thread through a queued call and waits for it, so it is synchronous; the GUI thread never
// waits on another thread, so this cannot deadlock. Once the window is closing (Close, or the end
// of the event loop), calls from other threads return at once with empty results, and calls still
// queued are released, so no worker waits forever.
class QtWindow final : public WindowModel {
public:
    // Builds the window on the calling thread; null (and the reason in `error`) when the table
    // cannot be built: a duplicate name, an unknown kind or parent, a page out of range.
    static std::unique_ptr<QtWindow> Create(const WindowLayout& layout, WindowEvents events, Text* error = nullptr);
    ~QtWindow() override;

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

    // GUI thread only.
    QWidget* TopLevel() const { return window_; }
    QWidget* Control(const Text& name) const;
    const ControlRow* RowOf(const Text& name) const;
    // Place and size of a control relative to the parent its table row names: the window's client
    // area, the tab control as a whole (tab strip included) or the group box.
    QRect GeometryInParent(const Text& name) const;
    // Shows the window centred on its screen.
    void ShowCentred();
    // Calls from other threads now waiting for the GUI thread.
    std::size_t WaitingCalls() const;
    // Ends cross-thread calls and destroys the widgets; the object itself stays valid for late
    // callers. GUI thread only; also done by the destructor.
    void Close();

private:
    struct Entry {
        ControlRow row;
        QWidget* widget = nullptr;
    };
    struct PendingCall {
        std::mutex mutex;
        std::condition_variable done;
        bool started = false;
        bool finished = false;
        bool cancelled = false;
    };

    QtWindow(const WindowLayout& layout, WindowEvents events);
    bool Build(Text* error);
    QWidget* BuildControl(const ControlRow& row);

    const Entry* Find(const Text& name) const;
    void BeginClosing();

    // Runs `fn` on the GUI thread and returns its result; an empty result once closing.
    template <class F>
    auto OnGuiThread(F&& fn) const -> decltype(fn());

    WindowLayout layout_;
    WindowEvents events_;
    QThread* guiThread_ = nullptr;
    QPointer<QWidget> window_;
    std::map<Text, Entry> entries_;
    bool suppressPageEvents_ = false;

    mutable std::mutex callMutex_;
    bool closing_ = false;
    mutable std::vector<std::shared_ptr<PendingCall>> pendingCalls_;
};

// Lets long text collections on the GUI thread handle pending events; on other threads the hook
// does nothing.
void InstallPendingMessagesHook();

// The font of the window: SimSun 12 pixels (9 point) when installed, else an installed CJK font.
QFont WindowFont();

}  // namespace qj::gui

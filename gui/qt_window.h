#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <map>
#include <memory>
#include <optional>

#include "window/toolkit_window.h"

namespace qj::gui {

// The real window: Qt widgets built from a window layout, behind the window model. A call from
// another thread runs on the GUI thread (see ToolkitWindow); the window closes with Close or the
// end of the event loop.
class QtWindow final : public ToolkitWindow {
public:
    // Builds the window on the calling thread; null (and the reason in `error`) when the table
    // cannot be built: a duplicate name, an unknown kind or parent, a page out of range.
    static std::unique_ptr<QtWindow> Create(const WindowLayout& layout, WindowEvents events, Text* error = nullptr);
    ~QtWindow() override;

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
    void ShowCentred() override;
    // The application's event loop (QApplication::exec).
    int RunEventLoop() override;

    // GUI thread only.
    QWidget* TopLevel() const { return window_; }
    QWidget* Control(const Text& name) const;
    // Place and size of a control relative to the parent its table row names: the window's client
    // area, the tab control as a whole (tab strip included) or the group box.
    QRect GeometryInParent(const Text& name) const;

private:
    QtWindow(const WindowLayout& layout, WindowEvents events);
    bool Build(Text* error);
    bool BuildControl(const ControlRow& row, Text* error) override;
    void WakeWindowThread() override;
    void DestroyWidgets() override;

    QPointer<QWidget> window_;
    std::map<Text, QWidget*> widgets_;
    bool suppressPageEvents_ = false;
};

// Lets long text collections on the GUI thread handle pending events; on other threads the hook
// does nothing.
void InstallPendingMessagesHook();

// The font of the window: SimSun 12 pixels (9 point) when installed, else an installed CJK font.
QFont WindowFont();

}  // namespace qj::gui

#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "window/control_table.h"

namespace qj {

// A window without a screen: the controls of a control table with their states in memory. It is a
// complete window model (tests and the window-less batch mode use it). Safe to use from any thread.
class MemoryWindow : public WindowModel {
public:
    struct ShownMessage {
        Text text;
        Text caption;
        MessageIcon icon;
    };

    explicit MemoryWindow(ControlTable controls);
    // The controls of a layout, and its title as the window's caption.
    explicit MemoryWindow(const WindowLayout& layout);

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
    void ProcessPendingMessages() override {}
    // Every thread may use this window: the work runs at once.
    void Post(std::function<void()> work) override { work(); }

    // Inspection, for tests and the batch mode.
    std::vector<ShownMessage> ShownMessages() const;
    std::vector<Text> OpenedTargets() const;
    // Colours set on a cell; nullopt when the cell has none of its own.
    std::optional<std::pair<Colour, Colour>> ListCellColours(const Text& name, int row, int column) const;
    // Called (outside the window's lock) with every text appended to an edit box.
    void SetAppendObserver(std::function<void(const Text& name, const Text& text)> observer);

private:
    struct ListRow {
        std::vector<Text> cells;
        std::map<int, std::pair<Colour, Colour>> colours;
    };
    struct Control {
        Text kind;
        Text text;
        bool disabled = false;
        bool checked = false;
        bool singleLine = false;   // an edit box of one line: no CR or LF gets in
        int keptLines = 0;         // a multi-line edit box keeps at most its last lines
        long long selection = -1;  // combo item, list row or tab page
        long long progressValue = 0;
        long long progressMaximum = 100;
        int pageCount = 0;
        std::vector<std::pair<Text, long long>> items;
        std::vector<ListRow> rows;
    };

    Control* Find(const Text& name);
    // What a control keeps of a text it is given: up to the first zero byte, and on one line when
    // it is a single-line edit box.
    static Text Kept(const Control& control, const Text& text);
    const Control* Find(const Text& name) const;

    // The list view's own colours: black text on white.
    static constexpr Colour kListTextColour = 0x000000;
    static constexpr Colour kListBackgroundColour = 0xFFFFFF;

    mutable std::mutex mutex_;
    std::vector<Text> order_;
    Text title_;
    std::map<Text, Control> controls_;
    std::map<Text, Text> radioGroup_;
    std::vector<ShownMessage> messages_;
    std::vector<Text> opened_;
    std::function<void(const Text&, const Text&)> appendObserver_;
};

}  // namespace qj

#include "window/toolkit_window.h"

namespace qj {

ToolkitWindow::ToolkitWindow(const WindowLayout& layout, WindowEvents events)
    : layout_(layout), events_(std::move(events)), calls_([this] { WakeWindowThread(); }) {}

ToolkitWindow::~ToolkitWindow() = default;

std::vector<Text> ToolkitWindow::ControlsOfKind(const Text& kindName) const {
    std::vector<Text> names;
    for (const ControlRow& row : layout_.controls) {
        if (kindName == row.kind) {
            names.push_back(row.name);
        }
    }
    return names;
}

bool ToolkitWindow::HasControl(const Text& name) const {
    return rows_.count(name) != 0;
}

const ControlRow* ToolkitWindow::RowOf(const Text& name) const {
    auto it = rows_.find(name);
    return it == rows_.end() ? nullptr : &it->second;
}

void ToolkitWindow::Post(std::function<void()> work) {
    calls_.Post([this, work = std::move(work)] {
        if (IsOpen()) {
            work();
        }
    });
}

void ToolkitWindow::Close() {
    BeginClosing();
    DestroyWidgets();
}

bool ToolkitWindow::BuildControls(Text* error) {
    if (Text problem = TableProblem(layout_.controls); !problem.empty()) {
        *error = problem;
        return false;
    }
    for (const ControlRow& row : layout_.controls) {
        rows_.emplace(row.name, row);
    }
    for (const ControlRow* row : BuildOrder(layout_.controls)) {
        if (!BuildControl(rows_.at(row->name), error)) {
            return false;
        }
    }
    return true;
}

void ToolkitWindow::RaiseClicked(const Text& name) {
    if (events_.clicked) {
        events_.clicked(*this, name);
    }
}

void ToolkitWindow::RaisePageSwitched(const Text& name, int page) {
    if (events_.pageSwitched) {
        events_.pageSwitched(*this, name, page);
    }
}

void ToolkitWindow::RaiseDoubleClicked(const Text& name) {
    if (events_.doubleClicked) {
        events_.doubleClicked(*this, name);
    }
}

}  // namespace qj

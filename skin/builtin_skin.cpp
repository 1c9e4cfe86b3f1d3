#include "skin/builtin_skin.h"

namespace qj {

namespace {

constexpr std::string_view kBuiltInSkin = R"QSS(
/* Panels */
QMainWindow, QDialog, QMessageBox {
    background-color: #e8eef7;
}
QToolTip {
    color: #1b2838;
    background-color: #fffbe8;
    border: 1px solid #98b4d8;
}

/* Tab control */
QTabWidget::pane {
    background-color: #f6f9fd;
    border: 1px solid #98b4d8;
    top: -1px;
}
QTabBar::tab {
    color: #1b2838;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fbfdff, stop: 1 #d9e6f6);
    border: 1px solid #98b4d8;
    border-top-left-radius: 3px;
    border-top-right-radius: 3px;
    padding: 4px 12px;
    margin-right: 1px;
}
QTabBar::tab:!selected {
    margin-top: 2px;
}
QTabBar::tab:hover:!selected {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #e4eefa);
}
QTabBar::tab:selected {
    color: #1d4e8f;
    background-color: #f6f9fd;
    border-bottom-color: #f6f9fd;
}

/* Group boxes */
QGroupBox {
    border: 1px solid #a9c1e0;
    border-radius: 3px;
    margin-top: 7px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0px 3px;
    color: #1d4e8f;
}

/* Buttons */
QPushButton {
    color: #1b2838;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fafcff, stop: 1 #cfe0f4);
    border: 1px solid #7d9cc6;
    border-radius: 3px;
    padding: 2px 8px;
}
QPushButton:hover {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #f2f8ff, stop: 1 #bfd7f3);
    border-color: #2f6db5;
}
QPushButton:pressed {
    background-color: #b8cfed;
    border-color: #1d4e8f;
}
QPushButton:focus {
    border-color: #2f6db5;
}
QPushButton:disabled {
    color: #8c98a8;
    background-color: #edf0f4;
    border-color: #c3ccd7;
}

/* Edit boxes: borders and selection only; text and base colours stay the widget's own */
QLineEdit, QPlainTextEdit, QTextEdit, QComboBox {
    border: 1px solid #98b4d8;
    border-radius: 2px;
    selection-color: #ffffff;
    selection-background-color: #2f6db5;
}
QLineEdit:focus, QPlainTextEdit:focus, QTextEdit:focus, QComboBox:focus {
    border-color: #2f6db5;
}
QComboBox {
    padding: 1px 4px;
}

/* Report lists */
QTreeView, QListView, QTableView {
    border: 1px solid #98b4d8;
    selection-color: #ffffff;
    selection-background-color: #2f6db5;
}
QHeaderView::section {
    color: #1b2838;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fbfdff, stop: 1 #dce8f6);
    border: 0px;
    border-right: 1px solid #b4c9e4;
    border-bottom: 1px solid #98b4d8;
    padding: 3px 6px;
}
)QSS";

}  // namespace

std::string_view BuiltInSkin() {
    return kBuiltInSkin;
}

}  // namespace qj

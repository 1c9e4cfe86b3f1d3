#pragma once

#include <QApplication>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "gui/qt_text.h"
#include "gui/qt_window.h"
#include "text/code_page.h"
#include "app/control_names.h"

namespace qj::testing {

// GBK text of a UTF-8 literal (these tests are compiled as UTF-8).
inline Text G(const char* utf8) {
    return Utf8ToAnsi(utf8);
}

// The main window as start-up opens it: built from the table with the program's handlers, its
// created sequence run, shown, and the process-wide main window while it lives.
class OpenedMainWindow {
public:
    explicit OpenedMainWindow(WindowEvents events = MainWindowEvents()) {
        window_ = gui::QtWindow::Create(MainWindowLayout(), std::move(events));
        SetMainWindow(window_.get());
        OnMainWindowCreated(*window_);
        window_->ShowCentred();
        static_cast<void>(QTest::qWaitForWindowExposed(window_->TopLevel()));
    }
    ~OpenedMainWindow() { SetMainWindow(nullptr); }

    gui::QtWindow& operator*() { return *window_; }
    gui::QtWindow* operator->() { return window_.get(); }

    template <class Widget>
    Widget* Get(const char* name) {
        return qobject_cast<Widget*>(window_->Control(name));
    }

    // Clicks a control of the window the way a user does, its tab page shown first.
    void Click(const char* name, QPoint at = {});

private:
    std::unique_ptr<gui::QtWindow> window_;
};

// Processes events until the condition holds or five seconds pass.
bool WaitFor(const std::function<bool()>& condition);

// Receives what the window asks the desktop to open, instead of the desktop, while it lives.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder();
    ~UrlRecorder() override;
    Q_INVOKABLE void open(const QUrl& url) { opened.push_back(url); }

    std::vector<QUrl> opened;
};

}  // namespace qj::testing

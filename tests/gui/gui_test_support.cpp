#include "gui_test_support.h"

#include <gtest/gtest.h>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QStyleFactory>
#include <QTabWidget>

#include "text/text_helpers.h"

namespace qj::testing {

namespace {

// One application object for every test, with the style and hook the program's start-up sets.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "qj_gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        gui::InstallPendingMessagesHook();
    }
    void TearDown() override {
        SetPendingMessagesHook(nullptr);
        delete app_;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void OpenedMainWindow::Click(const char* name, QPoint at) {
    const ControlRow* row = window_->RowOf(name);
    if (row && Text(row->parent) == control::kTabMain) {
        window_->SetCurrentTabPage(control::kTabMain, row->page);
    }
    QWidget* widget = window_->Control(name);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at.isNull() ? widget->rect().center() : at);
}

UrlRecorder::UrlRecorder() {
    for (const char* scheme : {"file", "http", "https"}) {
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
}

UrlRecorder::~UrlRecorder() {
    for (const char* scheme : {"file", "http", "https"}) {
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}

bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace qj::testing

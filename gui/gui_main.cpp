#include "gui/gui_main.h"

#include <QApplication>
#include <QStyleFactory>
#include <chrono>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/qt_window.h"
#include "gui/skin_gui.h"

namespace qj::gui {

int RunMainWindow(const WindowLayout& layout) {
    std::unique_ptr<QtWindow> window = QtWindow::Create(layout, MainWindowEvents());
    if (!window) {
        ShowMessageBox(ToQtLines(StartUpFailureText()), ToQt(kStartUpErrorCaption), MessageIcon::kError);
        return kWindowFailedExitCode;
    }
    SetMainWindow(window.get());
    OnMainWindowCreated(*window);
    window->ShowCentred();
    const int code = QApplication::exec();
    SetMainWindow(nullptr);
    window->Close();
    // A run still going: stop it, so that its keywords in flight go back into the list before the
    // process ends (its requests are aborted at once; the window no longer answers it).
    StopRequested = true;
    for (int i = 0; i < 300 && GenerationJobRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Worker threads may still hold the window and call it until the process ends; it stays valid
    // for them (every call now returns at once).
    window.release();
    return code;
}

int RunWindowedProgram(int& argc, char** argv) {
    QApplication app(argc, argv);
    // The window is laid out in pixels; one style keeps every desktop's metrics alike.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(style);
    }
    InstallPendingMessagesHook();
    ApplyBuiltInSkin();
    return RunMainWindow(MainWindowLayout());
}

}  // namespace qj::gui

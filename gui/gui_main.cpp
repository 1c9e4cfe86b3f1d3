#include "gui/gui_main.h"

#include <QApplication>
#include <QStyleFactory>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/windowed_run.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/qt_window.h"
#include "gui/skin_gui.h"

namespace qj::gui {

int RunMainWindow(const WindowLayout& layout) {
    return RunMainWindowUntilClosed(QtWindow::Create(layout, MainWindowEvents()),
                                    [](const Text& text, const Text& caption, MessageIcon icon) {
                                        ShowMessageBox(ToQtLines(text), ToQt(caption), icon);
                                    });
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

#include "app/window_model.h"

#include <atomic>

namespace qj {

namespace {
std::atomic<WindowModel*> g_mainWindow{nullptr};
}

WindowModel* MainWindow() {
    return g_mainWindow.load();
}

void SetMainWindow(WindowModel* window) {
    g_mainWindow.store(window);
}

}  // namespace qj

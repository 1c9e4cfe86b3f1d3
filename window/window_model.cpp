#include "app/window_model.h"

#include <atomic>

namespace qj {

namespace {
std::atomic<WindowModel*> g_mainWindow{nullptr};
}

Text WithoutLineBreaks(std::string_view text) {
    // CR and LF are never the trail byte of a double-byte character, so they can go byte by byte.
    Text kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (c != '\r' && c != '\n') {
            kept += c;
        }
    }
    return kept;
}

WindowModel* MainWindow() {
    return g_mainWindow.load();
}

void SetMainWindow(WindowModel* window) {
    g_mainWindow.store(window);
}

}  // namespace qj

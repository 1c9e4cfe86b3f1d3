// The Qt window against the window conformance suites.

#include "gui/qt_window.h"
#include "gui_test_support.h"
#include "toolkit_window_conformance.h"
#include "window_conformance.h"

namespace qj::testing {

struct QtWindowMaker {
    static std::unique_ptr<ToolkitWindow> Make(const WindowLayout& layout) { return gui::QtWindow::Create(layout, {}); }
    static bool WidgetGone(ToolkitWindow& window, const Text& name) {
        return dynamic_cast<gui::QtWindow&>(window).Control(name) == nullptr;
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(QtWindow, WindowConformance, QtWindowMaker);
INSTANTIATE_TYPED_TEST_SUITE_P(QtWindow, ToolkitWindowConformance, QtWindowMaker);

}  // namespace qj::testing

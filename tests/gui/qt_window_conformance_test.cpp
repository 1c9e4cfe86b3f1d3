// The Qt window against the window conformance suite.

#include "gui/qt_window.h"
#include "gui_test_support.h"
#include "window_conformance.h"

namespace qj::testing {

struct QtWindowMaker {
    static std::unique_ptr<WindowModel> Make(const WindowLayout& layout) { return gui::QtWindow::Create(layout, {}); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(QtWindow, WindowConformance, QtWindowMaker);

}  // namespace qj::testing

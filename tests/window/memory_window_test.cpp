// The in-memory window (the batch mode's window) against the window conformance suite.

#include "window/memory_window.h"

#include "window_conformance.h"

namespace qj::testing {

struct MemoryWindowMaker {
    static std::unique_ptr<WindowModel> Make(const WindowLayout& layout) {
        return std::make_unique<MemoryWindow>(layout);
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(MemoryWindow, WindowConformance, MemoryWindowMaker);

}  // namespace qj::testing

#pragma once

#include <functional>
#include <memory>

#include "window/toolkit_window.h"

namespace qj {

// Shows a message box without an owner: the toolkit's own, for when there is no window.
using MessageShower = std::function<void(const Text& text, const Text& caption, MessageIcon icon)>;

// The windowed program's main window from its creation to the end of the program, whatever the
// toolkit: the main window of the process, its created sequence, shown centred, the event loop
// until it is closed (the loop's exit code is returned). Afterwards a run still going is stopped,
// so that its keywords in flight go back into the list before the process ends; the window stays
// valid (and answers nothing) for the workers that may still call it. A window that could not be
// created (null) shows the start-up failure message and gives kWindowFailedExitCode.
int RunMainWindowUntilClosed(std::unique_ptr<ToolkitWindow> window, const MessageShower& showMessage);

}  // namespace qj

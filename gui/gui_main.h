#pragma once

#include "window/control_table.h"

namespace qj::gui {

// Start-up of the windowed program behind main(): the application object, the style, the skin,
// the main window and its event loop. Returns the exit code.
int RunWindowedProgram(int& argc, char** argv);

// Creates the window of `layout` with the main window's handlers, runs its created sequence, shows
// it centred and runs the event loop until it is closed (0). When the window cannot be created it
// shows the start-up failure message and returns -1. Needs a QApplication.
int RunMainWindow(const WindowLayout& layout);

}  // namespace qj::gui

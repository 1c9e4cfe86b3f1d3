#pragma once

#include "window/control_table.h"
#include "wingui/skin_palette.h"

namespace qj::wingui {

// Start-up of the windowed program on Windows: DPI awareness, the common controls, the main window
// in the built-in skin's colours, and its message loop. Returns the exit code.
int RunWindowedProgram();

// Creates the window of `layout` with the main window's handlers, runs its created sequence, shows
// it centred and runs the message loop until it is closed (0). When the window cannot be created
// it shows the start-up failure message and returns -1. Afterwards a run still going is stopped,
// so that its keywords in flight go back into the list before the process ends.
int RunMainWindow(const WindowLayout& layout, const SkinPalette& palette);

// A console the program got only because it is a console program (a double-click on it) is
// closed; one shared with the shell it was started from stays.
void ReleaseOwnConsole();

}  // namespace qj::wingui

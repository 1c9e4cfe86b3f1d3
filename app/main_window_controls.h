#pragma once

#include "app/control_names.h"
#include "window/control_table.h"

namespace qj {

// The main window: title and every control, in control order. Adding a control is one row of the
// table in main_window_controls.cpp; the settings store and both window implementations follow.
const WindowLayout& MainWindowLayout();

// The run log shows the last lines of the run: a long run with preview writes more than a window
// should hold (the whole log of a run is in its run-log file).
inline constexpr int kRunLogKeptLines = 5000;

// Texts of the main window that name addresses of the deployment.
Text UsageText();
Text BlogCaption();
Text InterfaceThreeHintText();
Text AboutText(const Text& version);

}  // namespace qj

#pragma once

#include "window/control_names.h"
#include "window/control_table.h"

namespace qj {

// The main window: title and every control, in control order. Adding a control is one row of the
// table in main_window_controls.cpp; the settings store and both window implementations follow.
const WindowLayout& MainWindowLayout();

// Texts of the main window that name addresses of the deployment.
Text UsageText();
Text BlogCaption();
Text InterfaceThreeHintText();
Text AboutText(const Text& version);

}  // namespace qj

#pragma once

#include <functional>

#include "run/log_line.h"
#include "window/window_model.h"

namespace qj {

// The run log of the program outside a run (a run reports through its observer): appends the line
// of `message` (RunLogLine, stamped now) to the run log of the process, the main window's run-log
// box or, in the batch mode, standard output. Nothing happens without one. Safe from any thread;
// each line is appended whole.
void RunLog(const Text& message);

// Where RunLog's lines go; an empty function: nowhere.
void SetRunLogTarget(std::function<void(const Text& line)> target);

// RunLog's lines go to the run-log box of `window` (a test: the window it inspects); null for none.
// The window must outlive its use here.
void SetRunLogWindow(WindowModel* window);

}  // namespace qj

#pragma once

#include "run/progress.h"
#include "text/types.h"

namespace qj {

// What a run tells while it goes on, to whoever shows it (the window, the batch mode's output, a
// test). Called from the run's threads, which must not be held up: an observer that shows things
// on a window's thread posts them there and returns.
class RunObserver {
public:
    virtual ~RunObserver() = default;

    // One line of the run log, whole: time stamp, message and CR LF (RunLogLine). The run writes the
    // same line into its run-log file.
    virtual void Logged(const Text& line) = 0;

    // The figures of the run: while it goes on (`over` false: the window's title and progress bar
    // show them), and once more when it is over (the bar keeps them, the title is the window's own
    // again).
    virtual void Progress(const ProgressFigures& figures, bool over) = 0;

    // Whether a run goes on: 开始 is disabled while it does.
    virtual void Running(bool running) = 0;
};

}  // namespace qj

#pragma once

#include "run/job.h"
#include "window/window_model.h"

namespace qj {

// A run on a window over the program folder's keyword list: its inputs read from the window (on the
// calling thread, which is the window's), the deployment in force, a fresh stop request of the
// process (RequestRunStop stops it), what it reports shown in the window. Runs on the calling
// thread until the run is over.
JobSummary RunOnWindow(WindowModel& window, const RunHooks& hooks = {});
// The same with another deployment (tests).
JobSummary RunOnWindow(WindowModel& window, const Deployment& deployment, const RunHooks& hooks = {});

// The click on 开始, on the main window's thread: disables 开始, reads the run's inputs and starts
// the run on a worker thread, unless a run exists already (the guard is taken before the worker
// starts, and released before 开始 is enabled again). Returns false when a run exists or there is
// no main window.
bool StartGenerationJob();

// True while a run exists, and until its thread has said its last words to the window.
bool GenerationJobRunning();

}  // namespace qj

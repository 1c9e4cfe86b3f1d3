#pragma once

#include <functional>

#include "run/job.h"

namespace qj {

// A run on the main window over the program folder's keyword list, with the deployment in force
// and the process's stop flag; nothing happens without a main window. `interrupted` tells whether
// the process was interrupted (see RunGenerationJob).
JobSummary GenerationJob(const std::function<void()>& onRunEnding = {}, const std::function<bool()>& interrupted = {});

// The click on 开始: starts GenerationJob on a worker thread unless a run exists already (the
// guard is taken on the calling thread before the worker starts). Returns false when a run exists.
bool StartGenerationJob();

// True while a run exists.
bool GenerationJobRunning();

}  // namespace qj

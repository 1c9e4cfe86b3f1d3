#include "app/main_window_job.h"

#include <thread>

#include "app/process_state.h"
#include "platform/program_folder.h"
#include "window/control_names.h"

namespace qj {

JobSummary GenerationJob(const std::function<void()>& onRunEnding, const std::function<bool()>& interrupted) {
    WindowModel* window = MainWindow();
    if (!window) {
        if (onRunEnding) {
            onRunEnding();
        }
        return {};
    }
    KeywordQueue queue(JobPathsIn(ProgramFolder()));
    return RunGenerationJob(*window, queue, ChosenGenerator, CurrentDeployment(), StopRequested, onRunEnding,
                            interrupted);
}

bool StartGenerationJob() {
    if (GenerationRunExists.exchange(true)) {
        return false;
    }
    if (WindowModel* window = MainWindow()) {
        window->SetNumber(control::kButtonStart, kPropDisabled, 1);
    }
    // The guard is released before 开始 is enabled again, so a click on the enabled button always
    // starts a run.
    std::thread([] { GenerationJob([] { GenerationRunExists.store(false); }); }).detach();
    return true;
}

bool GenerationJobRunning() {
    return GenerationRunExists.load();
}

}  // namespace qj

#include "app/main_window_job.h"

#include <memory>
#include <thread>

#include "app/control_names.h"
#include "app/process_state.h"
#include "app/run_settings.h"
#include "app/window_run_observer.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

RunInputs InputsFrom(const WindowModel& window, const Deployment& deployment) {
    return ReadRunInputs(WindowSettings(window), deployment, ProgramFolder(), LiveRunSwitches());
}

}  // namespace

JobSummary RunOnWindow(WindowModel& window, const RunHooks& hooks) {
    return RunOnWindow(window, CurrentDeployment(), hooks);
}

JobSummary RunOnWindow(WindowModel& window, const Deployment& deployment, const RunHooks& hooks) {
    const RunInputs inputs = InputsFrom(window, deployment);
    WindowRunObserver observer(window);
    const StopSource stop = StartRunStop();
    return RunJob(inputs, observer, stop.Token(), hooks);
}

bool StartGenerationJob() {
    WindowModel* window = MainWindow();
    if (!window || GenerationRunExists.exchange(true)) {
        return false;
    }
    window->SetNumber(control::kButtonStart, kPropDisabled, 1);
    auto inputs = std::make_shared<const RunInputs>(InputsFrom(*window, CurrentDeployment()));
    auto observer = std::make_shared<WindowRunObserver>(*window);
    const StopSource stop = StartRunStop();
    // The guard is released before 开始 is enabled again, so a click on the enabled button always
    // starts a run.
    GenerationRunThreads.fetch_add(1);
    std::thread([inputs, observer = std::move(observer), stop]() mutable {
        RunJob(*inputs, *observer, stop.Token(), {.onRunEnding = [] { GenerationRunExists.store(false); }});
        // The observer's last lines go to the window before the run counts as over.
        observer.reset();
        GenerationRunThreads.fetch_sub(1);
    }).detach();
    return true;
}

bool GenerationJobRunning() {
    return GenerationRunExists.load() || GenerationRunThreads.load() > 0;
}

}  // namespace qj

#include <memory>
#include <thread>

#include "app/control_names.h"
#include "app/handlers.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/run_settings.h"
#include "app/window_run_observer.h"
#include "platform/program_folder.h"
#include "run/log_line.h"
#include "run/publish_stage.h"

namespace qj {

// 发布已生成: the articles of the output folder not yet published go to the sites of the page of
// publishing, by a worker of its own; its lines go to the run log. Never while a run goes on: the
// run's own publisher keeps the same ledger.
void OnPublishGeneratedClicked(WindowModel& window) {
    if (GenerationRunExists.exchange(true)) {
        RunLog("任务进行中，请在任务结束后再发布已生成的文章");
        return;
    }
    const RunSwitches switches;
    const auto publish = std::make_shared<const PublishStageSettings>(
        ReadRunInputs(WindowSettings(window), CurrentDeployment(), ProgramFolder(), switches).publish);
    auto observer = std::make_shared<WindowRunObserver>(window);
    observer->Running(true);
    const StopSource stop = StartRunStop();
    std::thread([publish, observer, stop] {
        PublishGenerated(*publish, [&observer](const Text& message) { observer->Logged(RunLogLineNow(message)); },
                         stop.Token());
        // Released before 开始 is enabled again, as after a run.
        GenerationRunExists.store(false);
        observer->Running(false);
    }).detach();
}

}  // namespace qj

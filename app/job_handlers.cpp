#include "app/handlers.h"
#include "app/stop_flag.h"
#include "generation/generation_job.h"
#include "text/run_log.h"

namespace qj {

void OnStartClicked(WindowModel&) { StartGenerationJob(); }

void OnStopClicked(WindowModel&) {
    StopRequested = true;
    RunLog("程序将在1分钟后自动结束");
}

}  // namespace qj

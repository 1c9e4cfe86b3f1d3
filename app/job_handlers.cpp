#include "app/handlers.h"
#include "app/stop_flag.h"
#include "text/run_log.h"

namespace qj {

// The generation job is not part of the program yet: Start has nothing to run.
void OnStartClicked(WindowModel&) {}

void OnStopClicked(WindowModel&) {
    StopRequested = true;
    RunLog("程序将在1分钟后自动结束");
}

}  // namespace qj

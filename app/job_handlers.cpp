#include "app/handlers.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "run/failure_requeue.h"
#include "platform/open_file.h"
#include "platform/program_folder.h"
#include "app/run_log.h"

namespace qj {

void OnStartClicked(WindowModel&) {
    StartGenerationJob();
}

// Moves the failed keywords back behind the keyword list, so that the next run tries them again.
void OnRequeueFailedClicked(WindowModel&) {
    if (GenerationJobRunning()) {
        RunLog("任务进行中，请在任务结束后再重试失败关键词");
        return;
    }
    KeywordQueue queue(JobPathsIn(ProgramFolder()));
    if (!PathExists(NativePath(queue.paths().failureList)).value_or(false) &&
        !PathExists(NativePath(RequeueIntentPath(queue))).value_or(false)) {
        // Nothing to move: no lock to take, and no folder is made for it.
        RunLog("已将0个失败关键词移回待采集关键词列表");
        return;
    }
    if (!queue.TryLockRun()) {
        RunLog("错误信息：另一个青笺程序正在处理关键词列表 " + queue.paths().keywordList);
        return;
    }
    const Result<int> moved = RequeueFailedKeywords(queue.paths(), RequeueIntentPath(queue));
    if (!moved) {
        RunLog("错误信息：" + Describe(moved.error()));
        return;
    }
    RunLog("已将" + std::to_string(*moved) + "个失败关键词移回待采集关键词列表");
}

void OnStopClicked(WindowModel&) {
    RequestRunStop();
    RunLog("程序将在1分钟后自动结束");
}

}  // namespace qj

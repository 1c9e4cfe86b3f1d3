#pragma once

#include <atomic>
#include <functional>

#include "services/completion.h"
#include "services/generator.h"
#include "run/keyword_queue.h"
#include "run/progress.h"
#include "settings/deployment.h"
#include "window/window_model.h"

namespace qj {

// The generator of a completion interface (one or two).
Generator CompletionGenerator(CompletionProfile profile);

// How a run ended.
enum class RunEnd {
    kListDone,    // it went through to the end of the list
    kStopped,     // the stop flag ended it; the keywords in flight went back into the list
    kNotStarted,  // another run holds the list, the list cannot be read, or what an earlier run left
                  // could not be put back
    kEndedEarly,  // keywords are left: settings that cannot work, a file that cannot be written, or
                  // keywords behind an empty line of the list (which ends a run and stays)
};

struct JobSummary {
    int succeeded = 0;
    int failed = 0;
    int returned = 0;            // keywords put back into the list (a stop, settings that cannot work)
    int skipped = 0;             // keywords whose output file existed already
    TokenUsage tokens;           // summed over the keywords whose service reported its count
    int keywordsWithTokens = 0;  // how many did
    ProgressFigures figures;     // as the window showed them at the end
    RunEnd end = RunEnd::kListDone;
};

// One complete run over the keyword list: the window's controls are read at the moments the job
// needs them, every step is logged, and every keyword taken ends in its output file, in the failure
// list, or back in the keyword list. A keyword whose outcome cannot be recorded (its file or the
// failure list cannot be written) goes back into the list and ends the run, so that no keyword is
// asked for again and again; when even the list or the journal cannot take it, it stays in the
// journal for the next run. 编辑框_并发数 workers (1 to 32, 1 when empty) share the list;
// a transient failure is tried again up to 编辑框_失败重试次数 times (0 to 10) after a growing
// pause; "too many requests" pauses every worker; the figures of the run show in the window's
// title and progress bar and end up in the run log. A generator over a pool of endpoints (interface
// three, see PoolBehind) does its tries, pauses and failover itself, with 编辑框_并发数 as its ceiling,
// and each endpoint's figures end up in the run log. `choose` is asked once, at the start, with the
// window and the deployment. The run clears `stop` as it starts; setting it stops the run (the
// keywords in flight go back into the list). `onRunEnding` runs just before 开始 is enabled again.
// The last line of the log is 「任务完成！」, or 「任务已停止」 when `interrupted` says that the stop
// came from an interrupt of the process (Ctrl+C, a request to terminate).
using GeneratorChoice = std::function<Generator(WindowModel& window, const Deployment& deployment)>;
JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue, const GeneratorChoice& choose,
                            const Deployment& deployment, std::atomic<bool>& stop,
                            const std::function<void()>& onRunEnding = {},
                            const std::function<bool()>& interrupted = {});

// The generator the window's interface choice asks for, with the deployment's hosts.
Generator ChosenGenerator(WindowModel& window, const Deployment& deployment);

// Puts the keywords that a run left in its journal (the program was closed or killed during a
// request) back at the front of the keyword list, unless a run of another process holds the list.
// Returns how many went back.
int RecoverInterruptedKeywords(const Text& programFolder);

}  // namespace qj

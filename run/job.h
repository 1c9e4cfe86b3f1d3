#pragma once

#include <functional>

#include "platform/stop_token.h"
#include "run/progress.h"
#include "run/run_inputs.h"
#include "run/run_observer.h"
#include "services/token_usage.h"

namespace qj {

// How a run ended.
enum class RunEnd {
    kListDone,    // it went through to the end of the list
    kStopped,     // the stop request ended it; the keywords in flight went back into the list
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

// What happens around a run besides its inputs: `onRunEnding` runs just before the run says it no
// longer goes on (the window's run guard is released there, so that a click on the enabled 开始
// always starts a run), and `interrupted` tells whether a stop came from an interrupt of the process
// (Ctrl+C, a request to terminate).
struct RunHooks {
    std::function<void()> onRunEnding{};
    std::function<bool()> interrupted{};
};

// One complete run over the keyword list, its inputs read once before (see RunInputs); no window.
// Every keyword taken ends in its output file, in the failure list, or back in the keyword list. A
// keyword whose outcome cannot be recorded (its file or the failure list cannot be written) goes
// back into the list and ends the run, so that no keyword is asked for again and again; when even
// the list or the journal cannot take it, it stays in the journal for the next run. The request's
// workers share the list (see RequestStage for tries, pauses and endpoints). Every step is logged
// through `observer` and into the run's log file (OpenAi/运行日志/, see RunLogFile), and the
// figures of the run are told as they change, at most every 200 ms. A stop request ends the run
// (the keywords in flight go back into the list). The last line of the log is 「任务完成！」, or
// 「任务已停止」 when the stop came from an interrupt of the process.
//
// A keyword goes through the stages in this order, each with its own settings in the inputs:
// take (the queue, the skip rule) -> request (RequestStage) -> check the reply -> write the article
// -> record the outcome (journal, failure list, figures, tokens) -> (publish).
JobSummary RunJob(const RunInputs& inputs, RunObserver& observer, const StopToken& stop, const RunHooks& hooks = {});

// Puts the keywords that a run left in its journal (the program was closed or killed during a
// request) back at the front of the keyword list, unless a run of another process holds the list.
// Returns how many went back.
int RecoverInterruptedKeywords(const Text& programFolder);

}  // namespace qj

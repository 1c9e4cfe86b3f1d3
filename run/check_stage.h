#pragma once

#include <memory>
#include <optional>

#include "checks/check_figures.h"
#include "checks/duplicate_index.h"
#include "checks/reply_checks.h"
#include "platform/stop_token.h"
#include "run/request_stage.h"
#include "run/run_inputs.h"
#include "services/caller_hooks.h"

namespace qj {

// What the request and check stages made of one keyword.
struct CheckedReply {
    // The last request's outcome, its token count summed over every request of the keyword and
    // `requests` counting them all. Not ok (with its errorDetail) when the service gave no article.
    GenerationOutcome outcome;
    bool passed = false;  // an article that passed every check: `article` is to be written
    Text article;         // continuations joined, banned words replaced
    Text failedCheck;     // why the checks stopped it for good, for 「关键词【…】未通过检查：…」
};

// The check stage of a run: every reply goes through the article checks in their order before it
// is written. A cut-off reply of a chat service is continued (the article so far sent back, the
// continuation prompt after it) as often as the settings allow, the parts joined; a refusal, a reply
// too short, one with a banned word that has no replacement and a near duplicate are asked for again
// (the duplicate with a variation hint behind the prompt), once more than the retries of transient
// failures allow; a reply refused by review has been taken to the next endpoint by the request
// stage already and fails as it is. Counts what it stops for the run's closing line. Safe for the
// run's workers.
class CheckStage {
public:
    CheckStage(const CheckStageSettings& settings, int retries, const LogSink& log);

    // Before the first keyword: reads the banned-word file and brings the fingerprints of the output
    // folder up to date. False (the reason logged) when the run must not start: a word file that
    // cannot be read would let through what the user banned.
    bool Prepare();

    // Asks for the keyword's article (`fileName`: the name it would have in the output folder) and
    // checks it; blocks. `messages` (interface three): the filled templates every request of it
    // sends instead of the keyword's.
    CheckedReply Obtain(const Text& keyword, const Text& fileName, RequestStage& request, const StopToken& stop,
                        const ChatMessages* messages = nullptr);

    // The article of an Obtain that passed is in its file, or was not written after all.
    void Written(const Text& fileName);
    void NotWritten(const Text& fileName);

    // The run is over: the checks that were on and what they stopped, when they stopped, continued or
    // replaced anything (a run whose replies all passed as they were says nothing more).
    void LogFigures() const;

private:
    void Log(const Text& message) const {
        if (log_) {
            log_(message);
        }
    }

    const CheckStageSettings settings_;
    const int asksAgain_;  // further requests of a keyword whose reply a check stopped
    const LogSink log_;
    std::unique_ptr<DuplicateIndex> duplicates_;
    std::optional<ArticleChecks> checks_;
    CheckFigures figures_;
};

}  // namespace qj

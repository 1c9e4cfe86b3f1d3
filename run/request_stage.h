#pragma once

#include "platform/stop_token.h"
#include "run/run_inputs.h"
#include "services/caller_hooks.h"
#include "services/chat_completion.h"
#include "services/endpoint_pool.h"
#include "services/generator.h"
#include "services/retry_policy.h"

namespace qj {

// The request stage of a run: asks the chosen service for one keyword's text. Interfaces one and
// two are asked again after a transient failure while retries are left, after a growing pause, and
// "too many requests" pauses every worker; interface three goes through its pool of endpoints,
// which does its tries, pauses and failover itself, with the run's workers as its ceiling. The
// settings come from the run's inputs (the interface three endpoints are logged when the stage is
// made). Safe for the run's workers.
class RequestStage {
public:
    RequestStage(const RequestSettings& settings, const LogSink& log);

    // One keyword's outcome; blocks. A stop request ends any wait and request (the outcome is then
    // cancelled). The outcome counts the requests it took and names the endpoint that answered.
    // `messages` (interface three only) are sent instead of the template filled with the keyword.
    GenerationOutcome Ask(const Text& keyword, const StopToken& stop, const FollowUp& followUp = {},
                          const ChatMessages* messages = nullptr);

    // Whether the chosen service can go on with an article cut off at its length limit (a chat).
    bool CanContinue() const { return pool_ != nullptr; }

    // The run is over: one line per endpoint of interface three with its figures.
    void LogFigures() const;

private:
    const Text key_;
    const Text interfaceName_;
    const int retries_;
    const LogSink log_;
    Generator generate_;
    EndpointPool* pool_ = nullptr;
    SharedPause pause_;
};

// The generator of a completion interface (one or two).
Generator CompletionGenerator(CompletionProfile profile);

}  // namespace qj

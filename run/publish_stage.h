#pragma once

#include <memory>

#include "platform/stop_token.h"
#include "publishing/publisher.h"
#include "run/run_inputs.h"
#include "services/caller_hooks.h"

namespace qj {

// The wait before a further try of a post, as for a request of the run: growing back-off with a
// random spread, never shorter than the site's Retry-After.
publishing::RetryDelay PublishRetryDelay();

// How a publication of the generated articles ended.
struct PublishOutcome {
    bool started = false;  // the settings could be used and the files of publishing read
    publishing::PublishSummary summary;
};

// Publishes the articles of the output folder that are not yet published (those written before
// publishing was switched on, those a stopped publication left) to the sites of the settings,
// whether or not publishing after each article is on; every line goes to `log`.
PublishOutcome PublishGenerated(const PublishStageSettings& settings, const LogSink& log, const StopToken& stop);

// Publish: each article the run writes goes to the user's sites right after, by the publisher's
// own workers, so that a slow site never holds up generation. Nothing when publishing is off or
// its settings cannot work (the log says why once, when the run begins).
class PublishStage {
public:
    PublishStage(const PublishStageSettings& settings, const LogSink& log, const StopToken& stop);
    ~PublishStage();
    PublishStage(const PublishStage&) = delete;
    PublishStage& operator=(const PublishStage&) = delete;

    // Says what is wrong with the settings and starts the publisher's workers.
    void Begin();
    // An article was written (`file`: its name in the output folder): it is handed over and the
    // call returns at once.
    void Written(const Text& file, const Text& keyword);
    // Waits for the articles handed over (posted and confirmed, failed, or left for later when
    // the run was stopped).
    void End();

    // The publisher's lines into the run's log.
    class Observer;

private:

    const PublishStageSettings& settings_;
    const LogSink log_;
    const StopToken stop_;
    std::unique_ptr<Observer> observer_;
    std::unique_ptr<publishing::Publisher> publisher_;
};

}  // namespace qj

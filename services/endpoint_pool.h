#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "services/generator.h"
#include "services/caller_hooks.h"
#include "services/pacing.h"

namespace qj {

struct ChatMessages;  // services/chat_completion.h

// Asks one endpoint for one keyword's text (with what the follow-up adds to the request);
// `onResponseStart` is called (on the calling thread) as soon as the reply begins, with its status
// and header lines. `messages`, when given, are sent instead of the endpoint's own template filled
// with the keyword.
using EndpointRequest =
    std::function<GenerationOutcome(const Text& keyword, const Text& key, const std::atomic<bool>* cancel,
                                    const std::function<void(int status, const Text& headers)>& onResponseStart,
                                    const FollowUp& followUp, const ChatMessages* messages)>;

struct PoolEndpoint {
    Text description;  // how the run log presents it at the start; never a whole key
    Text key;          // empty: the main key a request is given
    EndpointRequest request;
};

struct PoolRules {
    int ceiling = 1;  // requests under way at a time, over all endpoints (the run's workers)
    int retries = 0;  // further tries of a transient failure on the same endpoint
    int failuresInARowToRest = 3;
    std::chrono::seconds firstRest{60};     // doubles while an endpoint keeps failing after its rests
    std::chrono::seconds longestRest{600};  // also the rest of an endpoint that refuses every request
};

// The endpoints of one run, numbered from 1 ("端点1" is the main settings). A keyword goes to the
// endpoint with the most room (free concurrency within its remaining budget; see EndpointPace),
// waiting while none has any. A transient failure is tried again up to `retries` times, on the same
// endpoint while it has room (else on one that has); when it still fails, or the endpoint refuses
// (key, quota, proxy), the keyword goes on to another endpoint, each endpoint at most once. A 429
// ("too many requests", not a used-up quota) is no failure of the keyword: the endpoint's pace
// holds back, and the keyword goes again where there is room, up to kRateLimitedGoes times on one
// endpoint; after that the endpoint rests as after a run of other transient failures. An endpoint
// that fails several times in a row, or refuses, rests for a while and is used again after it. When
// every endpoint rests, the keyword comes back as unusableSettings (the run ends; the reason is
// logged once). Every rest, the return from it, a pace change, a failover and every wait for a
// budget of 10 seconds or more is logged. Safe for the run's workers.
class EndpointPool {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kRateLimitedGoes = 5;

    // The pool's run-log lines go to `log`.
    EndpointPool(std::vector<PoolEndpoint> endpoints, LogSink log);

    // Before the first request.
    void SetRules(const PoolRules& rules);

    // One keyword's text, however many endpoints and tries it takes. Blocks; `stop` ends any wait
    // and request (the outcome is then cancelled). `followUp`, `messages`: see EndpointRequest.
    GenerationOutcome Request(const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop,
                              const FollowUp& followUp = {}, const ChatMessages* messages = nullptr);

    struct Figures {
        int articles = 0;
        int failures = 0;     // failed requests other than 429 answers
        int rateLimited = 0;  // 429 answers ("too many requests", not a used-up quota)
    };
    std::vector<Figures> figures() const;

    // One run-log line per endpoint with its figures.
    void LogFigures() const;

private:
    struct Endpoint {
        PoolEndpoint endpoint;
        Text name;
        std::optional<EndpointPace> pace;
        int failuresInARow = 0;
        int restsInARow = 0;
        Clock::time_point restUntil{};
        bool backFromRestUnannounced = false;
        Clock::time_point holdLogged{};
        Clock::time_point waitLogged{};
        bool cappedLogged = false;
        Figures figures;
    };
    struct Choice {
        enum class Kind { kChosen, kNoneLeft, kAllResting, kStopped } kind = Kind::kStopped;
        std::size_t index = 0;
        Clock::time_point startedAt{};
    };

    // An endpoint for the next request of a keyword: `preferred` when it has room now, else the one
    // with the most room of those the keyword may go to now (`notBefore`, per endpoint: max() for
    // none that it is through with), waiting until one has some.
    Choice Choose(const std::vector<Clock::time_point>& notBefore, std::optional<std::size_t> preferred,
                  const std::atomic<bool>& stop);
    // Request, counting the requests made into `requests`.
    GenerationOutcome Requested(const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop,
                                const FollowUp& followUp, const ChatMessages* messages, int& requests);
    // One request of the keyword on the chosen endpoint, booked.
    GenerationOutcome Ask(const Choice& choice, const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop,
                          const FollowUp& followUp, const ChatMessages* messages);
    // Books a finished request.
    void Book(std::size_t index, Clock::time_point startedAt, const GenerationOutcome& outcome, bool headersSeen);
    // Takes the limits a reply announced; adds the lines they call for to `log`.
    void TakeLimits(Endpoint& endpoint, Clock::time_point startedAt, const RateLimits& limits, Clock::time_point now,
                    std::vector<Text>& log);
    // Lines for the waits of endpoints whose budget is spent for a while.
    void NoteBudgetWaits(const std::vector<Clock::time_point>& notBefore, Clock::time_point now,
                         std::vector<Text>& log);
    std::chrono::seconds NextRest(const Endpoint& endpoint) const;
    void Rest(Endpoint& endpoint, std::chrono::seconds period, const Text& why, Clock::time_point now,
              std::vector<Text>& log);
    GenerationOutcome EveryEndpointResting();
    bool Resting(std::size_t index) const;
    static Text LimitsLine(const Endpoint& endpoint);
    Text Named(std::size_t index, const Text& detail) const;

    void Log(const std::vector<Text>& lines) const;

    std::vector<Endpoint> endpoints_;
    const LogSink log_;
    PoolRules rules_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool restingAnnounced_ = false;
};

// The generator that runs over a pool. The job recognises it (PoolBehind) and leaves tries,
// pauses and failover to the pool.
struct PooledGenerator {
    std::shared_ptr<EndpointPool> pool;
    GenerationOutcome operator()(const Text& keyword, const Text& key, const std::atomic<bool>* cancel) const;
};

// The pool behind a generator made from one; nullptr for any other generator.
EndpointPool* PoolBehind(const Generator& generator);

}  // namespace qj

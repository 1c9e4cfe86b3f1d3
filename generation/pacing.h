#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>

#include "generation/rate_limits.h"

namespace qj {

// How fast one endpoint may be asked. It follows the budgets the endpoint's replies announce: a
// request starts only while the remaining budget covers it (requests started since that reply, and
// the earlier ones still under way, count against it; tokens by the usage replies reported so far)
// or once the budget is whole again. Replies may come back in another order than their requests
// went out: a later reply to an earlier request counts when it knows of less left. A 429 holds
// every request back for its Retry-After, or until the spent budget resets. Until the endpoint's
// first reply arrives, one request goes alone, so that a small budget is learnt before a whole wave
// of requests runs into it.
//
// The concurrency starts at the ceiling. It halves on a 429 (on one that names no budget, or drops
// to as many requests as were under way when the refused one started, if fewer: what the service
// evidently takes) and grows by one after each round of successes, after eight rounds near the
// level that met the last 429.
//
// Not thread-safe: the pool that owns it serialises every call.
class EndpointPace {
public:
    using Clock = std::chrono::steady_clock;

    explicit EndpointPace(int ceiling);

    struct Room {
        int requests = 0;  // how many may start now
        // When none may: the moment it is worth looking again; max() when only a finished request
        // can make room.
        Clock::time_point lookAgain = Clock::time_point::max();
    };
    Room RoomAt(Clock::time_point now) const;

    // A request starts now.
    void Start(Clock::time_point now);

    // The response to the request started at `startedAt` has begun with these rate limits (seen
    // at `now`). True when it announced budgets other than the ones known so far.
    bool Announced(Clock::time_point startedAt, const RateLimits& limits, Clock::time_point now);

    enum class Result { kSuccess, kRateLimited, kOtherFailure, kNoAnswer };
    struct Change {
        std::optional<int> concurrency;          // the new concurrency when it changed
        std::optional<Clock::duration> holdFor;  // after a 429: how long nothing starts
    };
    // The request started at `startedAt` is over. `limits`: its reply's (a 429 is held back for its
    // Retry-After); `tokensUsed`: what its reply counted.
    Change Finished(Clock::time_point startedAt, Result result, const RateLimits& limits,
                    std::optional<long long> tokensUsed, Clock::time_point now);

    int concurrency() const { return concurrency_; }
    int inFlight() const { return inFlight_; }
    std::optional<long long> requestLimit() const { return requests_ ? requests_->limit : std::nullopt; }
    std::optional<long long> tokenLimit() const { return tokens_ ? tokens_->limit : std::nullopt; }

private:
    // A budget as one reply described it.
    struct Budget {
        Clock::time_point startedAt;  // of the request whose reply said so
        long long remaining = 0;
        std::optional<long long> limit;
        Clock::time_point resetAt;
        bool reporterUnderWay = true;  // the request whose reply said so has not ended yet
    };
    std::optional<long long> Left(const Budget& budget, bool tokens, long long perRequest, Clock::time_point now) const;
    long long StartsAfter(Clock::time_point t) const;
    // How many requests started at `t` or before are still under way.
    long long UnderWayStartedBy(Clock::time_point t) const;
    void ForgetOldStarts();

    const int ceiling_;
    int concurrency_;
    int inFlight_ = 0;
    bool answered_ = false;     // a reply has begun
    bool finishedOne_ = false;  // a reply has ended
    int successesSinceChange_ = 0;
    int rateLimitedInARow_ = 0;
    Clock::time_point holdUntil_{};
    Clock::time_point lastDecrease_{};
    int tooMany_ = 0;  // the concurrency at the last 429
    // Per request under way: how many others were when it started.
    std::multimap<Clock::time_point, int> underWayWhenStarted_;
    std::optional<Budget> requests_;
    std::optional<Budget> tokens_;
    std::optional<double> tokensPerRequest_;
    std::deque<Clock::time_point> starts_;  // oldest first
};

}  // namespace qj

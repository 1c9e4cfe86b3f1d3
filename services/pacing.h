#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "services/rate_limits.h"

namespace qj {

// How fast one endpoint may be asked. It follows the budgets the endpoint's replies announce: a
// request starts only while the remaining budget covers it, or once the budget is whole again.
// Within a window the service's count only grows, so of the replies at hand the one that tells of
// least left has the latest figures, and they count every request whose reply told of no less: the
// requests it may not have counted are those whose reply has not told anything yet (under way, or
// ended without budget lines until a request started after they ended brings some). Replies may
// come back in another order than the service wrote them, so a reply that tells of more than one
// already did changes nothing; one that tells of a window ending later is kept until the earlier
// has ended. Tokens are counted when a reply ends, so every request under way still owes its share.
// A 429 holds every request back for its Retry-After, or until the spent budget resets. Until the
// endpoint's first reply arrives, one request goes alone, so that a small budget is learnt before a
// whole wave of requests runs into it.
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

    // `growingPause`: a 429 that names no time holds back for 1 s, 2 s, 4 s … while they keep coming;
    // without it always for 1 s.
    explicit EndpointPace(int ceiling, bool growingPause = true);

    struct Room {
        int requests = 0;  // how many may start now
        // When none may: the moment it is worth looking again; max() when only a finished request
        // can make room.
        Clock::time_point lookAgain = Clock::time_point::max();
        bool budgetSpent = false;  // none may start until lookAgain because an announced budget is spent
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
    std::optional<long long> requestLimit() const { return requests_.limit; }
    std::optional<long long> tokenLimit() const { return tokens_.limit; }

private:
    // A budget as one reply described it.
    struct View {
        long long remaining = 0;
        Clock::time_point resetAt;
    };
    // What the replies told of one budget (requests or tokens).
    struct Budget {
        int kind = 0;  // its bit in Request::reported
        std::optional<long long> limit{};
        bool told = false;  // some reply described it
        // The views in force that may still say least: none says no less than another for as long.
        std::vector<View> views{};
        // When requests ended whose replies told nothing of it, until one started later tells.
        std::deque<Clock::time_point> silentEnds{};
    };
    struct Request {
        int othersUnderWay = 0;  // when it started
        int reported = 0;        // the bits of the budgets its reply described
    };
    // Requests whose cost the figures at hand may not hold yet.
    long long Uncounted(const Budget& budget) const;
    long long Cost(const Budget& budget) const;
    void Take(Budget& budget, const RateBudget& told, Request* request, Clock::time_point startedAt,
              Clock::time_point now, bool& changed);
    static void DropEnded(Budget& budget, Clock::time_point now);

    const int ceiling_;
    const bool growingPause_;
    int concurrency_;
    int inFlight_ = 0;
    bool answered_ = false;     // a reply has begun
    bool finishedOne_ = false;  // a reply has ended
    int successesSinceChange_ = 0;
    int rateLimitedInARow_ = 0;
    Clock::time_point holdUntil_{};
    Clock::time_point lastDecrease_{};
    int tooMany_ = 0;  // the concurrency at the last 429
    std::multimap<Clock::time_point, Request> underWay_;  // by start
    Budget requests_{.kind = 1};
    Budget tokens_{.kind = 2};
    std::optional<double> tokensPerRequest_;
};

}  // namespace qj

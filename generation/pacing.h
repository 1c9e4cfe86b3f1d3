#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "generation/rate_limits.h"

namespace qj {

// How fast one endpoint may be asked. It follows the budgets the endpoint's replies announce: a
// request starts only while the remaining budget covers it, or once the budget is whole again. A
// reply's figures are those of the moment the service wrote them; it may not yet count requests
// started after the one it answers, nor those started earlier that were still under way when that
// one started (requests sent side by side need not arrive in the order they were sent). Tokens are
// counted when a reply ends, so every request under way still owes its share. Replies may also come
// back in another order than the service wrote them: one that arrives later may tell of more budget
// than another already did. So every reply of the budget's window that may still say least is kept,
// and the least of what they say binds. A 429 holds every request back for its Retry-After, or until
// the spent budget resets. Until the endpoint's first reply arrives, one request goes alone, so that
// a small budget is learnt before a whole wave of requests runs into it.
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
        Clock::time_point startedAt;  // of the request whose reply said so
        long long remaining = 0;
        Clock::time_point resetAt;
        bool reporterUnderWay = true;  // the request whose reply said so has not ended yet
    };
    // What the replies told of one budget (requests or tokens).
    struct Budget {
        bool tokens = false;
        std::optional<long long> limit{};
        // The views that may still say least, by their requests' start.
        std::vector<View> views{};
        // The view of the request started last: after the window has ended, what is left of the new
        // one is reckoned from it.
        std::optional<View> latest{};
    };
    // What a view leaves for further requests now, each costing `perRequest`; nullopt when a new
    // window of unknown size has begun.
    std::optional<long long> Left(const Budget& budget, const View& view, long long perRequest,
                                  Clock::time_point now) const;
    // Requests that the view's figures may not have counted yet.
    long long Uncounted(const Budget& budget, const View& view) const;
    long long Cost(const Budget& budget) const;
    // Drops the views that can never say least again.
    void Prune(Budget& budget, Clock::time_point now);
    void Take(Budget& budget, const RateBudget& told, Clock::time_point startedAt, Clock::time_point now,
              bool& changed);
    long long StartsAfter(Clock::time_point t) const;
    // How many requests started at `t` or before are still under way.
    long long UnderWayStartedBy(Clock::time_point t) const;
    // How many requests started after `from` and before `to` are still under way.
    long long UnderWayBetween(Clock::time_point from, Clock::time_point to) const;
    void ForgetOldStarts();

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
    // Per request under way: how many others were when it started.
    std::multimap<Clock::time_point, int> underWayWhenStarted_;
    Budget requests_;
    Budget tokens_{.tokens = true};
    std::optional<double> tokensPerRequest_;
    std::deque<Clock::time_point> starts_;  // oldest first
};

}  // namespace qj

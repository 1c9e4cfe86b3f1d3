#include "generation/pacing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>

#include "generation/retry_policy.h"

namespace qj {

namespace {

// A service counts its window on its own clock; starting a little after the announced reset keeps
// the first request of the new window out of the old one.
constexpr auto kResetMargin = std::chrono::milliseconds(10);

// The pause after a 429 that names no time: 1 s, 2 s, 4 s … up to a minute.
std::chrono::milliseconds UninformedPause(int rateLimitedInARow) {
    const int doublings = std::clamp(rateLimitedInARow - 1, 0, 6);
    const auto pause = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000 << doublings),
                                                           std::chrono::milliseconds(60000));
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(pause.count()) * retry::TimeScale()));
}

}  // namespace

EndpointPace::EndpointPace(int ceiling) : ceiling_(std::max(1, ceiling)), concurrency_(ceiling_) {}

long long EndpointPace::StartsAfter(Clock::time_point t) const {
    return static_cast<long long>(starts_.end() - std::upper_bound(starts_.begin(), starts_.end(), t));
}

long long EndpointPace::UnderWayStartedBy(Clock::time_point t) const {
    return static_cast<long long>(std::distance(underWayWhenStarted_.begin(), underWayWhenStarted_.upper_bound(t)));
}

std::optional<long long> EndpointPace::Left(const Budget& budget, bool tokens, long long perRequest,
                                            Clock::time_point now) const {
    // Requests started after the one whose reply this is were not in its count; once the budget has
    // been renewed they may have been counted in the old window or in the new one, and taking the
    // new one costs at most a short wait for the next reply. Nor were, perhaps, the others started
    // before it or with it that are still under way: requests sent side by side need not arrive in
    // the order they were sent. Tokens are counted when a reply ends, so every request under way
    // still owes its share.
    const long long underWay = UnderWayStartedBy(budget.startedAt) - (budget.reporterUnderWay ? 1 : 0);
    const long long uncounted =
        std::max<long long>(StartsAfter(budget.startedAt) + std::max<long long>(0, underWay), tokens ? inFlight_ : 0);
    if (now >= budget.resetAt) {
        if (!budget.limit) {
            return std::nullopt;  // a new window of unknown size: the next reply tells
        }
        return *budget.limit - perRequest * uncounted;
    }
    return budget.remaining - perRequest * uncounted;
}

EndpointPace::Room EndpointPace::RoomAt(Clock::time_point now) const {
    Room room;
    if (now < holdUntil_) {
        room.lookAgain = holdUntil_;
        return room;
    }
    if (!answered_ && inFlight_ > 0) {
        return room;
    }
    long long allowed = concurrency_ - inFlight_;
    if (allowed <= 0) {
        return room;
    }
    const auto limitBy = [&](const std::optional<Budget>& budget, bool tokens, std::optional<double> perRequest) {
        if (!budget) {
            return;
        }
        const long long cost = perRequest ? std::max<long long>(1, std::llround(*perRequest)) : 0;
        const std::optional<long long> left = Left(*budget, tokens, cost, now);
        if (!left) {
            return;
        }
        // What a request costs in tokens is known from the first reply that reports its usage. Until
        // one has ended, requests go one by one; a service that never reports it is held back by a
        // spent token budget only.
        long long fits = cost > 0 ? *left / cost : (*left <= 0 ? 0 : finishedOne_ ? LLONG_MAX : inFlight_ == 0);
        if (fits <= 0 && now >= budget->resetAt && inFlight_ == 0) {
            fits = 1;  // the budget must have been renewed since, and only a reply can say how far
        }
        if (fits <= 0) {
            allowed = 0;
            if (now < budget->resetAt) {
                room.lookAgain = std::min(room.lookAgain, budget->resetAt);
            }
            return;
        }
        allowed = std::min(allowed, fits);
    };
    limitBy(requests_, false, 1.0);
    limitBy(tokens_, true, tokensPerRequest_);
    room.requests = static_cast<int>(std::max<long long>(0, allowed));
    if (room.requests > 0) {
        room.lookAgain = Clock::time_point::max();
    }
    return room;
}

void EndpointPace::Start(Clock::time_point now) {
    underWayWhenStarted_.emplace(now, inFlight_);
    ++inFlight_;
    starts_.push_back(now);
    ForgetOldStarts();
}

void EndpointPace::ForgetOldStarts() {
    // Only starts after the oldest point a budget counts from are ever asked for: a budget known, or
    // one that the reply to a request under way may bring.
    std::optional<Clock::time_point> oldest;
    for (const std::optional<Budget>* budget : {&requests_, &tokens_}) {
        if (*budget) {
            oldest = oldest ? std::min(*oldest, (*budget)->startedAt) : (*budget)->startedAt;
        }
    }
    if (!underWayWhenStarted_.empty()) {
        const Clock::time_point firstUnderWay = underWayWhenStarted_.begin()->first;
        oldest = oldest ? std::min(*oldest, firstUnderWay) : firstUnderWay;
    }
    if (!oldest) {
        starts_.clear();
        return;
    }
    while (!starts_.empty() && starts_.front() <= *oldest) {
        starts_.pop_front();
    }
}

bool EndpointPace::Announced(Clock::time_point startedAt, const RateLimits& limits, Clock::time_point now) {
    answered_ = true;
    bool changed = false;
    const auto take = [&](std::optional<Budget>& known, const RateBudget& told) {
        if (!told.remaining || !told.reset) {
            return;
        }
        const std::optional<long long> limit = told.limit ? told.limit : (known ? known->limit : std::nullopt);
        const Budget view{startedAt, *told.remaining, limit, now + *told.reset + kResetMargin, true};
        // The answer to an earlier request, come later, is taken when the budget at hand has run
        // out since, or when it knows of more used up than the budget at hand does (requests
        // that arrived after that one was counted).
        if (known && startedAt < known->startedAt && now < known->resetAt && *told.remaining >= known->remaining) {
            return;
        }
        changed |= told.limit && (!known || known->limit != told.limit);
        known = view;
    };
    take(requests_, limits.requests);
    take(tokens_, limits.tokens);
    ForgetOldStarts();
    return changed;
}

EndpointPace::Change EndpointPace::Finished(Clock::time_point startedAt, Result result, const RateLimits& limits,
                                            std::optional<long long> tokensUsed, Clock::time_point now) {
    inFlight_ = std::max(0, inFlight_ - 1);
    int othersUnderWay = inFlight_;
    if (const auto it = underWayWhenStarted_.find(startedAt); it != underWayWhenStarted_.end()) {
        othersUnderWay = it->second;
        underWayWhenStarted_.erase(it);
    }
    for (std::optional<Budget>* budget : {&requests_, &tokens_}) {
        if (*budget && (*budget)->startedAt == startedAt) {
            (*budget)->reporterUnderWay = false;
        }
    }
    if (result != Result::kNoAnswer) {
        answered_ = true;
        finishedOne_ = true;
    }
    if (tokensUsed && *tokensUsed > 0) {
        const double used = static_cast<double>(*tokensUsed);
        tokensPerRequest_ = tokensPerRequest_ ? 0.7 * *tokensPerRequest_ + 0.3 * used : used;
    }
    Change change;
    if (result == Result::kSuccess) {
        rateLimitedInARow_ = 0;
        // One round of successes per step; near the level that met a 429 last, eight.
        const int rounds = concurrency_ + 1 >= tooMany_ ? 8 : 1;
        if (++successesSinceChange_ >= concurrency_ * rounds && concurrency_ < ceiling_) {
            change.concurrency = ++concurrency_;
            successesSinceChange_ = 0;
        }
        return change;
    }
    if (result != Result::kRateLimited) {
        return change;
    }
    ++rateLimitedInARow_;
    // Held back until the service's own time, else until a spent budget is whole again, else for a
    // pause of our own that grows while 429s keep coming.
    Clock::time_point until = now;
    if (limits.retryAfter) {
        until = now + *limits.retryAfter;
    }
    for (const std::optional<Budget>* budget : {&requests_, &tokens_}) {
        if (*budget && (*budget)->remaining <= 0 && now < (*budget)->resetAt) {
            until = std::max(until, (*budget)->resetAt);
        }
    }
    if (until == now) {
        until = now + UninformedPause(rateLimitedInARow_);
    }
    holdUntil_ = std::max(holdUntil_, until);
    change.holdFor = holdUntil_ - now;
    // Requests that were under way together meet the same limit: one decrease for all of them, to
    // half. A 429 that announces no budget is about requests at once: then to as many as the
    // service took when the refused request started, if fewer.
    if (startedAt >= lastDecrease_) {
        lastDecrease_ = now;
        successesSinceChange_ = 0;
        tooMany_ = concurrency_;
        const bool budgetTold = limits.requests.remaining || limits.tokens.remaining;
        const int lower = std::max(1, budgetTold ? concurrency_ / 2 : std::min(concurrency_ / 2, othersUnderWay));
        if (lower != concurrency_) {
            concurrency_ = lower;
            change.concurrency = concurrency_;
        }
    }
    return change;
}

}  // namespace qj

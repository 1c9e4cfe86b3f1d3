#include "services/pacing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <bit>
#include <iterator>

#include "services/retry_policy.h"

namespace qj {

namespace {

// A service counts its window on its own clock; starting a little after the announced reset keeps
// the first request of the new window out of the old one.
constexpr auto kResetMargin = std::chrono::milliseconds(10);

// The pause after a 429 that names no time: 1 s, 2 s, 4 s … up to a minute while they keep coming
// (only 1 s when it does not grow).
std::chrono::milliseconds UninformedPause(int rateLimitedInARow, bool growing) {
    const int doublings = growing ? std::clamp(rateLimitedInARow - 1, 0, 6) : 0;
    const auto pause = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000 << doublings),
                                                           std::chrono::milliseconds(60000));
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(pause.count()) * retry::TimeScale()));
}

// Views kept at most per budget; beyond it the two that end first become one that says no more
// than either, for as long as either.
constexpr std::size_t kMostViews = 32;

}  // namespace

EndpointPace::EndpointPace(int ceiling, bool growingPause)
    : ceiling_(std::max(1, ceiling)), growingPause_(growingPause), concurrency_(ceiling_) {}

long long EndpointPace::Cost(const Budget& budget) const {
    if (&budget == &requests_) {
        return 1;
    }
    return tokensPerRequest_ ? std::max<long long>(1, std::llround(*tokensPerRequest_)) : 0;
}

long long EndpointPace::Uncounted(const Budget& budget) const {
    long long silent = static_cast<long long>(budget.silentEnds.size());
    for (const auto& [startedAt, request] : underWay_) {
        silent += (request.reported & budget.kind) ? 0 : 1;
    }
    return &budget == &tokens_ ? std::max<long long>(silent, inFlight_) : silent;
}

void EndpointPace::DropEnded(Budget& budget, Clock::time_point now) {
    std::erase_if(budget.views, [&](const View& view) { return now >= view.resetAt; });
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
    const auto limitBy = [&](const Budget& budget) {
        if (!budget.told) {
            return;
        }
        const long long cost = Cost(budget);
        // The view that says least binds; once every window told of has ended, what is left of the
        // new one is its size less what may already count in it.
        const View* binding = nullptr;
        for (const View& view : budget.views) {
            if (now < view.resetAt && (!binding || view.remaining < binding->remaining)) {
                binding = &view;
            }
        }
        std::optional<long long> left;
        if (binding) {
            left = binding->remaining - cost * Uncounted(budget);
        } else if (budget.limit) {
            left = *budget.limit - cost * Uncounted(budget);
        } else {
            return;  // a new window of unknown size: the next reply tells
        }
        // What a request costs in tokens is known from the first reply that reports its usage. Until
        // one has ended, requests go one by one; a service that never reports it is held back by a
        // spent token budget only.
        long long fits = cost > 0 ? *left / cost : (*left <= 0 ? 0 : finishedOne_ ? LLONG_MAX : inFlight_ == 0);
        if (fits <= 0 && !binding && inFlight_ == 0) {
            fits = 1;  // the budget must have been renewed since, and only a reply can say how far
        }
        if (fits <= 0) {
            allowed = 0;
            if (binding) {
                room.lookAgain = std::min(room.lookAgain, binding->resetAt);
                room.budgetSpent = true;
            }
            return;
        }
        allowed = std::min(allowed, fits);
    };
    limitBy(requests_);
    limitBy(tokens_);
    room.requests = static_cast<int>(std::max<long long>(0, allowed));
    if (room.requests > 0) {
        room.lookAgain = Clock::time_point::max();
    }
    return room;
}

void EndpointPace::Start(Clock::time_point now) {
    underWay_.emplace(now, Request{.othersUnderWay = inFlight_});
    ++inFlight_;
}

void EndpointPace::Take(Budget& budget, const RateBudget& told, Request* request, Clock::time_point startedAt,
                        Clock::time_point now, bool& changed) {
    if (!told.remaining || !told.reset) {
        return;
    }
    budget.told = true;
    if (told.limit) {
        changed |= budget.limit != told.limit;
        budget.limit = told.limit;
    }
    if (request) {
        request->reported |= budget.kind;
    }
    // Requests that ended before this one started reached the service before it.
    while (!budget.silentEnds.empty() && budget.silentEnds.front() < startedAt) {
        budget.silentEnds.pop_front();
    }
    DropEnded(budget, now);
    const View view{*told.remaining, now + *told.reset + kResetMargin};
    std::vector<View>& views = budget.views;
    // A view that says no less than another, for no longer, can never bind.
    for (const View& kept : views) {
        if (kept.remaining <= view.remaining && kept.resetAt >= view.resetAt) {
            return;
        }
    }
    std::erase_if(views, [&](const View& kept) {
        return view.remaining <= kept.remaining && view.resetAt >= kept.resetAt;
    });
    views.push_back(view);
    if (views.size() > kMostViews) {
        std::sort(views.begin(), views.end(), [](const View& a, const View& b) { return a.resetAt < b.resetAt; });
        views[1] = {std::min(views[0].remaining, views[1].remaining), views[1].resetAt};
        views.erase(views.begin());
    }
}

bool EndpointPace::Announced(Clock::time_point startedAt, const RateLimits& limits, Clock::time_point now) {
    answered_ = true;
    Request* request = nullptr;
    for (auto [at, end] = underWay_.equal_range(startedAt); at != end; ++at) {
        if (at->second.reported == 0) {
            request = &at->second;
            break;
        }
    }
    bool changed = false;
    Take(requests_, limits.requests, request, startedAt, now, changed);
    Take(tokens_, limits.tokens, request, startedAt, now, changed);
    return changed;
}

EndpointPace::Change EndpointPace::Finished(Clock::time_point startedAt, Result result, const RateLimits& limits,
                                            std::optional<long long> tokensUsed, Clock::time_point now) {
    inFlight_ = std::max(0, inFlight_ - 1);
    int othersUnderWay = inFlight_;
    // Of requests started at the same moment, the one that told most is taken for the one that
    // ended: the others then stay uncounted until they end themselves.
    auto [first, last] = underWay_.equal_range(startedAt);
    if (first != last) {
        auto ending = first;
        for (auto at = first; at != last; ++at) {
            if (std::popcount(static_cast<unsigned>(at->second.reported)) >
                std::popcount(static_cast<unsigned>(ending->second.reported))) {
                ending = at;
            }
        }
        othersUnderWay = ending->second.othersUnderWay;
        for (Budget* budget : {&requests_, &tokens_}) {
            if (!(ending->second.reported & budget->kind)) {
                budget->silentEnds.push_back(now);
            }
        }
        underWay_.erase(ending);
    }
    for (Budget* budget : {&requests_, &tokens_}) {
        DropEnded(*budget, now);
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
    // pause of our own.
    Clock::time_point until = now;
    if (limits.retryAfter) {
        until = now + *limits.retryAfter;
    }
    for (const Budget* budget : {&requests_, &tokens_}) {
        for (const View& view : budget->views) {
            if (view.remaining <= 0 && now < view.resetAt) {
                until = std::max(until, view.resetAt);
            }
        }
    }
    if (until == now) {
        until = now + UninformedPause(rateLimitedInARow_, growingPause_);
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

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

// The pause after a 429 that names no time: 1 s, 2 s, 4 s … up to a minute while they keep coming
// (only 1 s when it does not grow).
std::chrono::milliseconds UninformedPause(int rateLimitedInARow, bool growing) {
    const int doublings = growing ? std::clamp(rateLimitedInARow - 1, 0, 6) : 0;
    const auto pause = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000 << doublings),
                                                           std::chrono::milliseconds(60000));
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(pause.count()) * retry::TimeScale()));
}

// Views kept at most per budget; beyond it the two oldest become one that says no more than either.
constexpr std::size_t kMostViews = 64;

}  // namespace

EndpointPace::EndpointPace(int ceiling, bool growingPause)
    : ceiling_(std::max(1, ceiling)), growingPause_(growingPause), concurrency_(ceiling_) {}

long long EndpointPace::StartsAfter(Clock::time_point t) const {
    return static_cast<long long>(starts_.end() - std::upper_bound(starts_.begin(), starts_.end(), t));
}

long long EndpointPace::UnderWayStartedBy(Clock::time_point t) const {
    return static_cast<long long>(std::distance(underWayWhenStarted_.begin(), underWayWhenStarted_.upper_bound(t)));
}

long long EndpointPace::UnderWayBetween(Clock::time_point from, Clock::time_point to) const {
    return static_cast<long long>(
        std::distance(underWayWhenStarted_.upper_bound(from), underWayWhenStarted_.upper_bound(to)));
}

long long EndpointPace::Cost(const Budget& budget) const {
    if (!budget.tokens) {
        return 1;
    }
    return tokensPerRequest_ ? std::max<long long>(1, std::llround(*tokensPerRequest_)) : 0;
}

long long EndpointPace::Uncounted(const Budget& budget, const View& view) const {
    // Requests started after the one whose reply this is were not in its count; once the budget has
    // been renewed they may have been counted in the old window or in the new one, and taking the
    // new one costs at most a short wait for the next reply. Nor were, perhaps, the others started
    // before it or with it that are still under way. Those started before it that have ended since
    // are in the count of this reply or of another one kept (see Prune).
    const long long underWay = UnderWayStartedBy(view.startedAt) - (view.reporterUnderWay ? 1 : 0);
    return std::max<long long>(StartsAfter(view.startedAt) + std::max<long long>(0, underWay),
                               budget.tokens ? inFlight_ : 0);
}

std::optional<long long> EndpointPace::Left(const Budget& budget, const View& view, long long perRequest,
                                            Clock::time_point now) const {
    const long long uncounted = Uncounted(budget, view);
    if (now >= view.resetAt) {
        if (!budget.limit) {
            return std::nullopt;  // a new window of unknown size: the next reply tells
        }
        return *budget.limit - perRequest * uncounted;
    }
    return view.remaining - perRequest * uncounted;
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
        const long long cost = Cost(budget);
        // The view that says least binds; once the window of every view has ended, the new window is
        // reckoned from the request started last.
        const View* binding = nullptr;
        std::optional<long long> left;
        for (const View& view : budget.views) {
            if (now < view.resetAt) {
                const std::optional<long long> l = Left(budget, view, cost, now);
                if (!binding || (l && *l < *left)) {
                    binding = &view;
                    left = l;
                }
            }
        }
        if (!binding && budget.latest) {
            binding = &*budget.latest;
            left = Left(budget, *binding, cost, now);
        }
        if (!left) {
            return;
        }
        // What a request costs in tokens is known from the first reply that reports its usage. Until
        // one has ended, requests go one by one; a service that never reports it is held back by a
        // spent token budget only.
        long long fits = cost > 0 ? *left / cost : (*left <= 0 ? 0 : finishedOne_ ? LLONG_MAX : inFlight_ == 0);
        if (fits <= 0 && now >= binding->resetAt && inFlight_ == 0) {
            fits = 1;  // the budget must have been renewed since, and only a reply can say how far
        }
        if (fits <= 0) {
            allowed = 0;
            if (now < binding->resetAt) {
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
    underWayWhenStarted_.emplace(now, inFlight_);
    ++inFlight_;
    starts_.push_back(now);
    ForgetOldStarts();
}

void EndpointPace::ForgetOldStarts() {
    // Only starts after the oldest point a view counts from are ever asked for: a view kept, or one
    // that the reply to a request under way may bring.
    std::optional<Clock::time_point> oldest;
    const auto consider = [&](Clock::time_point t) { oldest = oldest ? std::min(*oldest, t) : t; };
    for (const Budget* budget : {&requests_, &tokens_}) {
        for (const View& view : budget->views) {
            consider(view.startedAt);
        }
        if (budget->latest) {
            consider(budget->latest->startedAt);
        }
    }
    if (!underWayWhenStarted_.empty()) {
        consider(underWayWhenStarted_.begin()->first);
    }
    if (!oldest) {
        starts_.clear();
        return;
    }
    while (!starts_.empty() && starts_.front() <= *oldest) {
        starts_.pop_front();
    }
}

void EndpointPace::Prune(Budget& budget, Clock::time_point now) {
    std::vector<View>& views = budget.views;
    std::erase_if(views, [&](const View& view) { return now >= view.resetAt; });
    const long long cost = Cost(budget);
    // Of two views, the one started earlier has more requests it may not have counted, and that
    // difference only grows while requests started between the two end. So a later view that tells
    // of no less left is never the least while the earlier one lasts; and an earlier one whose lead
    // can no longer shrink (its request has ended, none started between is under way) is never the
    // least once the later one says less.
    for (std::size_t j = 1; j < views.size();) {
        bool dominated = false;
        for (std::size_t i = 0; i < j && !dominated; ++i) {
            const bool earlier = views[i].startedAt < views[j].startedAt;
            dominated = views[i].resetAt >= views[j].resetAt &&
                        views[i].remaining + (earlier ? 0 : std::max<long long>(1, cost)) <= views[j].remaining;
        }
        if (dominated) {
            views.erase(views.begin() + static_cast<std::ptrdiff_t>(j));
        } else {
            ++j;
        }
    }
    for (std::size_t i = 0; i + 1 < views.size();) {
        bool dominated = false;
        for (std::size_t j = i + 1; j < views.size() && !dominated; ++j) {
            const View& early = views[i];
            const View& late = views[j];
            if (early.reporterUnderWay || early.startedAt >= late.startedAt || late.resetAt < early.resetAt ||
                UnderWayBetween(early.startedAt, late.startedAt) > (late.reporterUnderWay ? 1 : 0)) {
                continue;
            }
            const long long lead = StartsAfter(early.startedAt) - StartsAfter(late.startedAt) -
                                   UnderWayBetween(early.startedAt, late.startedAt) + (late.reporterUnderWay ? 1 : 0);
            dominated = early.remaining - late.remaining >= cost * lead;
        }
        if (dominated) {
            views.erase(views.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    while (views.size() > kMostViews) {
        // Counted from the older start, with the smaller remainder and the later reset: never more
        // than either says.
        View merged = views[0];
        merged.remaining = std::min(views[0].remaining, views[1].remaining);
        merged.resetAt = std::max(views[0].resetAt, views[1].resetAt);
        merged.reporterUnderWay = false;
        views.erase(views.begin());
        views[0] = merged;
    }
}

void EndpointPace::Take(Budget& budget, const RateBudget& told, Clock::time_point startedAt, Clock::time_point now,
                        bool& changed) {
    if (!told.remaining || !told.reset) {
        return;
    }
    if (told.limit) {
        changed |= budget.limit != told.limit;
        budget.limit = told.limit;
    }
    const View view{startedAt, *told.remaining, now + *told.reset + kResetMargin, true};
    if (!budget.latest || startedAt >= budget.latest->startedAt) {
        budget.latest = view;
    }
    budget.views.insert(std::upper_bound(budget.views.begin(), budget.views.end(), view,
                                         [](const View& a, const View& b) { return a.startedAt < b.startedAt; }),
                        view);
    Prune(budget, now);
}

bool EndpointPace::Announced(Clock::time_point startedAt, const RateLimits& limits, Clock::time_point now) {
    answered_ = true;
    bool changed = false;
    Take(requests_, limits.requests, startedAt, now, changed);
    Take(tokens_, limits.tokens, startedAt, now, changed);
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
    for (Budget* budget : {&requests_, &tokens_}) {
        // Of requests started at the same moment, any may be the one that ended: each of their views
        // counts its own request as ended too, which only ever counts one more.
        for (View& view : budget->views) {
            if (view.startedAt == startedAt) {
                view.reporterUnderWay = false;
            }
        }
        if (budget->latest && budget->latest->startedAt == startedAt) {
            budget->latest->reporterUnderWay = false;
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
    Prune(requests_, now);
    Prune(tokens_, now);
    ForgetOldStarts();
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

#include "services/endpoint_pool.h"

#include <algorithm>
#include <ctime>

#include "services/retry_policy.h"

namespace qj {

namespace {

// How often a waiting worker looks at the stop flag.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// Waits for a spent budget from this long on are logged.
constexpr auto kLoggedWait = std::chrono::seconds(10);

Text PeriodText(std::chrono::seconds period) {
    const long long s = period.count();
    if (s < 60) {
        return std::to_string(s) + "秒";
    }
    return std::to_string(s / 60) + "分钟" + (s % 60 ? std::to_string(s % 60) + "秒" : Text());
}

GenerationOutcome Cancelled() {
    GenerationOutcome outcome;
    outcome.cancelled = true;
    return outcome;
}

std::chrono::steady_clock::duration Scaled(std::chrono::seconds period) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * retry::TimeScale());
}

}  // namespace

EndpointPool::EndpointPool(std::vector<PoolEndpoint> endpoints, LogSink log) : log_(std::move(log)) {
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        Endpoint& endpoint = endpoints_.emplace_back();
        endpoint.endpoint = std::move(endpoints[i]);
        endpoint.name = "端点" + std::to_string(i + 1);
    }
    SetRules(rules_);
}

void EndpointPool::Log(const std::vector<Text>& lines) const {
    if (log_) {
        for (const Text& line : lines) {
            log_(line);
        }
    }
}

void EndpointPool::SetRules(const PoolRules& rules) {
    std::lock_guard lock(mutex_);
    rules_ = rules;
    for (Endpoint& endpoint : endpoints_) {
        endpoint.pace.emplace(rules.ceiling, rules.retries > 0);
    }
}

Text EndpointPool::LimitsLine(const Endpoint& endpoint) {
    Text told;
    if (const std::optional<long long> requests = endpoint.pace->requestLimit()) {
        told = "请求" + std::to_string(*requests) + "个";
    }
    if (const std::optional<long long> tokens = endpoint.pace->tokenLimit()) {
        told += (told.empty() ? "" : "、") + ("Token " + std::to_string(*tokens) + "个");
    }
    return endpoint.name + "的服务限额：每个周期" + told + "，按剩余额度放行请求";
}

bool EndpointPool::Resting(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return endpoints_[index].restUntil > Clock::now();
}

Text EndpointPool::Named(std::size_t index, const Text& detail) const {
    return endpoints_.size() > 1 ? endpoints_[index].name + "：" + detail : detail;
}

EndpointPool::Choice EndpointPool::Choose(const std::vector<Clock::time_point>& notBefore,
                                          std::optional<std::size_t> preferred, const std::atomic<bool>& stop) {
    std::vector<Text> log;
    std::unique_lock lock(mutex_);
    while (true) {
        if (stop.load()) {
            return {};
        }
        const Clock::time_point now = Clock::now();
        bool anyAwake = false;
        bool anyCandidate = false;
        std::optional<std::size_t> best;
        int bestRoom = 0;
        Clock::time_point lookAgain = now + kStopPoll;
        for (std::size_t i = 0; i < endpoints_.size(); ++i) {
            const Endpoint& endpoint = endpoints_[i];
            if (endpoint.restUntil > now) {
                continue;
            }
            anyAwake = true;
            if (notBefore[i] == Clock::time_point::max()) {
                continue;
            }
            anyCandidate = true;
            if (now < notBefore[i]) {
                lookAgain = std::min(lookAgain, notBefore[i]);
                continue;
            }
            const EndpointPace::Room room = endpoint.pace->RoomAt(now);
            if (room.requests <= 0) {
                lookAgain = std::min(lookAgain, room.lookAgain);
                continue;
            }
            // The preferred one while it has room; else the most room, on a tie the one with fewer
            // requests under way, then the lower number.
            const int inFlight = endpoint.pace->inFlight();
            const bool better = !best || room.requests > bestRoom ||
                                (room.requests == bestRoom && inFlight < endpoints_[*best].pace->inFlight());
            const bool preferredChosen = preferred && best == preferred;
            if (i == preferred || (better && !preferredChosen)) {
                best = i;
                bestRoom = room.requests;
            }
        }
        if (!anyAwake) {
            return {.kind = Choice::Kind::kAllResting};
        }
        if (!anyCandidate) {
            return {.kind = Choice::Kind::kNoneLeft};
        }
        if (best) {
            Endpoint& endpoint = endpoints_[*best];
            if (endpoint.backFromRestUnannounced) {
                endpoint.backFromRestUnannounced = false;
                log.push_back(endpoint.name + "休息结束，重新使用");
            }
            endpoint.pace->Start(now);
            lock.unlock();
            Log(log);
            return {.kind = Choice::Kind::kChosen, .index = *best, .startedAt = now};
        }
        NoteBudgetWaits(notBefore, now, log);
        if (!log.empty()) {
            lock.unlock();
            Log(log);
            log.clear();
            lock.lock();
            continue;
        }
        changed_.wait_until(lock, lookAgain);
    }
}

void EndpointPool::NoteBudgetWaits(const std::vector<Clock::time_point>& notBefore, Clock::time_point now,
                                   std::vector<Text>& log) {
    for (std::size_t i = 0; i < endpoints_.size(); ++i) {
        Endpoint& endpoint = endpoints_[i];
        if (now < notBefore[i] || endpoint.restUntil > now) {
            continue;
        }
        const EndpointPace::Room room = endpoint.pace->RoomAt(now);
        // Short waits are the pace at work; one that lasts is told once per reset.
        if (!room.budgetSpent || room.lookAgain - now < kLoggedWait ||
            room.lookAgain <= endpoint.waitLogged + std::chrono::seconds(1)) {
            continue;
        }
        endpoint.waitLogged = room.lookAgain;
        log.push_back(endpoint.name + "的服务限额已用完，等待" +
                      retry::DelayText(std::chrono::ceil<std::chrono::seconds>(room.lookAgain - now)) +
                      "到额度恢复");
    }
}

void EndpointPool::Rest(Endpoint& endpoint, std::chrono::seconds period, const Text& why, Clock::time_point now,
                        std::vector<Text>& log) {
    if (endpoint.restUntil > now) {
        return;  // resting already: requests under way when it began end like this one
    }
    ++endpoint.restsInARow;
    endpoint.restUntil = now + Scaled(period);
    endpoint.failuresInARow = 0;
    endpoint.backFromRestUnannounced = true;
    log.push_back(endpoint.name + why + "，休息" + PeriodText(period));
}

std::chrono::seconds EndpointPool::NextRest(const Endpoint& endpoint) const {
    const int doublings = std::clamp(endpoint.restsInARow, 0, 10);
    return std::min(rules_.longestRest, rules_.firstRest * (1 << doublings));
}

void EndpointPool::TakeLimits(Endpoint& endpoint, Clock::time_point startedAt, const RateLimits& limits,
                              Clock::time_point now, std::vector<Text>& log) {
    if (endpoint.pace->Announced(startedAt, limits, now)) {
        log.push_back(LimitsLine(endpoint));
    }
    if (limits.capped && !endpoint.cappedLogged) {
        endpoint.cappedLogged = true;
        log.push_back(endpoint.name + "的回复要求等待超过" + PeriodText(std::chrono::ceil<std::chrono::seconds>(kLongestWait)) +
                      "，最多等待" + PeriodText(std::chrono::ceil<std::chrono::seconds>(kLongestWait)));
    }
}

void EndpointPool::Book(std::size_t index, Clock::time_point startedAt, const GenerationOutcome& outcome,
                        bool headersSeen) {
    std::vector<Text> log;
    {
        std::lock_guard lock(mutex_);
        Endpoint& endpoint = endpoints_[index];
        EndpointPace& pace = *endpoint.pace;
        const Clock::time_point now = Clock::now();
        if (outcome.cancelled) {
            pace.Finished(startedAt, EndpointPace::Result::kNoAnswer, {}, std::nullopt, now);
        } else {
            if (!headersSeen) {
                TakeLimits(endpoint, startedAt, outcome.rateLimits, now, log);
            }
            const bool article = outcome.ok && !outcome.text.empty();
            const EndpointPace::Result result = article               ? EndpointPace::Result::kSuccess
                                                : outcome.rateLimited ? EndpointPace::Result::kRateLimited
                                                : outcome.status == 0 ? EndpointPace::Result::kNoAnswer
                                                                      : EndpointPace::Result::kOtherFailure;
            const std::optional<long long> tokens =
                outcome.usage ? std::optional<long long>(outcome.usage->totalTokens) : std::nullopt;
            const EndpointPace::Change change = pace.Finished(startedAt, result, outcome.rateLimits, tokens, now);

            if (article) {
                ++endpoint.figures.articles;
                endpoint.failuresInARow = 0;
                endpoint.restsInARow = 0;
            } else if (outcome.rateLimited) {
                ++endpoint.figures.rateLimited;
            } else {
                ++endpoint.figures.failures;
            }
            if (outcome.endpointUnusable) {
                Rest(endpoint, rules_.longestRest, "无法使用（" + outcome.errorDetail + "）", now, log);
            } else if (outcome.transient && !outcome.rateLimited &&
                       ++endpoint.failuresInARow >= rules_.failuresInARowToRest) {
                Rest(endpoint, NextRest(endpoint), "连续失败" + std::to_string(endpoint.failuresInARow) + "次", now,
                     log);
            }

            if (change.holdFor) {
                const Clock::time_point until = now + *change.holdFor;
                // Answers to requests that were under way together say the same: one line for them.
                if (change.concurrency || until > endpoint.holdLogged + std::chrono::seconds(1)) {
                    endpoint.holdLogged = until;
                    log.push_back(endpoint.name + "回答请求过多（HTTP 429）" +
                                  (change.concurrency ? "，并发数降为" + std::to_string(*change.concurrency) : Text()) +
                                  "，暂停" +
                                  retry::DelayText(std::chrono::duration_cast<std::chrono::milliseconds>(*change.holdFor)));
                }
            } else if (change.concurrency) {
                log.push_back(endpoint.name + "的并发数升至" + std::to_string(*change.concurrency));
            }
        }
    }
    changed_.notify_all();
    Log(log);
}

GenerationOutcome EndpointPool::Ask(const Choice& choice, const Text& keyword, const Text& mainKey,
                                    const std::atomic<bool>& stop, const FollowUp& followUp,
                                    const ChatMessages* messages) {
    const std::size_t index = choice.index;
    const PoolEndpoint& endpoint = endpoints_[index].endpoint;
    const Text& key = endpoint.key.empty() ? mainKey : endpoint.key;
    bool headersSeen = false;
    const auto onResponseStart = [&](int, const Text& headers) {
        const RateLimits limits = ReadRateLimits(headers, std::time(nullptr));
        std::vector<Text> log;
        {
            std::lock_guard lock(mutex_);
            headersSeen = true;
            TakeLimits(endpoints_[index], choice.startedAt, limits, Clock::now(), log);
        }
        changed_.notify_all();
        Log(log);
    };
    GenerationOutcome outcome = endpoint.request(keyword, key, &stop, onResponseStart, followUp, messages);
    outcome.endpoint = endpoints_[index].name;
    outcome.endpointNumber = static_cast<int>(index) + 1;
    Book(index, choice.startedAt, outcome, headersSeen);
    return outcome;
}

GenerationOutcome EndpointPool::EveryEndpointResting() {
    GenerationOutcome outcome;
    outcome.unusableSettings = true;
    std::lock_guard lock(mutex_);
    if (!restingAnnounced_) {
        restingAnnounced_ = true;
        outcome.errorDetail = endpoints_.size() > 1 ? "接口三的所有端点都在休息，本次任务提前结束"
                                                    : "接口三的端点在休息，本次任务提前结束";
    }
    return outcome;
}

GenerationOutcome EndpointPool::Request(const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop,
                                        const FollowUp& followUp, const ChatMessages* messages) {
    int requests = 0;
    GenerationOutcome outcome = Requested(keyword, mainKey, stop, followUp, messages, requests);
    outcome.requests = requests;
    return outcome;
}

GenerationOutcome EndpointPool::Requested(const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop,
                                          const FollowUp& followUp, const ChatMessages* messages, int& requests) {
    const std::size_t count = endpoints_.size();
    // Per endpoint, when this keyword may go to it again: max() once it is through with it.
    std::vector<Clock::time_point> notBefore(count, Clock::time_point::min());
    std::vector<int> failures(count, 0);  // transient failures other than 429s
    std::vector<int> rateLimited(count, 0);
    std::optional<std::size_t> retryOn;    // the endpoint a retry goes to while it has room
    std::optional<GenerationOutcome> last;  // why the keyword went on from an endpoint
    bool movedOn = false;
    while (true) {
        const Choice choice = Choose(notBefore, retryOn, stop);
        switch (choice.kind) {
            case Choice::Kind::kStopped:
                return Cancelled();
            case Choice::Kind::kAllResting:
                return EveryEndpointResting();
            case Choice::Kind::kNoneLeft:
                // Every endpoint that is up has had its go at this keyword.
                return last ? *last : EveryEndpointResting();
            case Choice::Kind::kChosen:
                break;
        }
        const std::size_t index = choice.index;
        if (movedOn || (retryOn && *retryOn != index)) {
            Log({"关键词【" + keyword + "】改由" + endpoints_[index].name + "生成" +
                   (movedOn && !last->errorDetail.empty() ? "（" + last->errorDetail + "）" : Text())});
            movedOn = false;
        }
        retryOn.reset();
        GenerationOutcome outcome = Ask(choice, keyword, mainKey, stop, followUp, messages);
        ++requests;
        if (outcome.ok || outcome.cancelled || outcome.unusableSettings) {
            return outcome;
        }
        if (outcome.rateLimited && !outcome.endpointUnusable) {
            // The pace holds the endpoint back; the keyword goes again where there is room.
            if (++rateLimited[index] <= kRateLimitedGoes) {
                continue;
            }
            std::vector<Text> log;
            {
                std::lock_guard lock(mutex_);
                Endpoint& endpoint = endpoints_[index];
                Rest(endpoint, NextRest(endpoint),
                     "对关键词【" + keyword + "】连续" + std::to_string(rateLimited[index]) + "次回答请求过多（HTTP 429）",
                     Clock::now(), log);
            }
            changed_.notify_all();
            Log(log);
        } else if (outcome.transient && !outcome.endpointUnusable && ++failures[index] <= rules_.retries &&
                   !Resting(index)) {
            // Another endpoint with room may take the keyword before the wait is over.
            const auto delay = retry::Delay(failures[index], outcome.retryAfterSeconds, retry::Jitter());
            const Text reason = outcome.status == 0 ? Text("没有收到回复") : "HTTP " + std::to_string(outcome.status);
            Log({"关键词【" + keyword + "】请求失败（" + (count > 1 ? endpoints_[index].name + "，" : Text()) + reason +
                   "），" + retry::DelayText(delay) + "后第" + std::to_string(failures[index]) + "次重试"});
            notBefore[index] = Clock::now() + std::chrono::duration_cast<Clock::duration>(delay * retry::TimeScale());
            retryOn = index;
            continue;
        } else if (!outcome.transient && !outcome.endpointUnusable && !outcome.reviewRefused) {
            // The keyword itself fails (a reply without text, a refused request): no endpoint would
            // do better.
            if (!outcome.errorDetail.empty()) {
                outcome.errorDetail = Named(index, outcome.errorDetail);
            }
            return outcome;
        }
        if (!outcome.errorDetail.empty()) {
            outcome.errorDetail = Named(index, outcome.errorDetail);
        }
        notBefore[index] = Clock::time_point::max();
        last = std::move(outcome);
        movedOn = true;
    }
}

std::vector<EndpointPool::Figures> EndpointPool::figures() const {
    std::lock_guard lock(mutex_);
    std::vector<Figures> all;
    for (const Endpoint& endpoint : endpoints_) {
        all.push_back(endpoint.figures);
    }
    return all;
}

void EndpointPool::LogFigures() const {
    const std::vector<Figures> all = figures();
    for (std::size_t i = 0; i < all.size(); ++i) {
        Log({endpoints_[i].name + "：文章" + std::to_string(all[i].articles) + "篇，失败" +
               std::to_string(all[i].failures) + "次，429回答" + std::to_string(all[i].rateLimited) + "次"});
    }
}

GenerationOutcome PooledGenerator::operator()(const Text& keyword, const Text& key,
                                              const std::atomic<bool>* cancel) const {
    static const std::atomic<bool> kNeverStopped{false};
    return pool->Request(keyword, key, cancel ? *cancel : kNeverStopped);
}

EndpointPool* PoolBehind(const Generator& generator) {
    const PooledGenerator* pooled = generator.target<PooledGenerator>();
    return pooled ? pooled->pool.get() : nullptr;
}

}  // namespace qj

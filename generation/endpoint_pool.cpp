#include "generation/endpoint_pool.h"

#include <algorithm>
#include <ctime>

#include "generation/retry_policy.h"
#include "window/run_log.h"

namespace qj {

namespace {

// How often a waiting worker looks at the stop flag.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

Text PeriodText(std::chrono::seconds period) {
    const long long s = period.count();
    if (s < 60) {
        return std::to_string(s) + "秒";
    }
    return std::to_string(s / 60) + "分钟" + (s % 60 ? std::to_string(s % 60) + "秒" : Text());
}

void Log(const std::vector<Text>& lines) {
    for (const Text& line : lines) {
        RunLog(line);
    }
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

EndpointPool::EndpointPool(std::vector<PoolEndpoint> endpoints) {
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        Endpoint& endpoint = endpoints_.emplace_back();
        endpoint.endpoint = std::move(endpoints[i]);
        endpoint.name = "端点" + std::to_string(i + 1);
    }
    SetRules(rules_);
}

void EndpointPool::SetRules(const PoolRules& rules) {
    std::lock_guard lock(mutex_);
    rules_ = rules;
    for (Endpoint& endpoint : endpoints_) {
        endpoint.pace.emplace(rules.ceiling);
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

EndpointPool::Choice EndpointPool::Choose(const std::vector<bool>& tried, std::optional<std::size_t> only,
                                          const std::atomic<bool>& stop) {
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
            if (only ? i != *only : tried[i]) {
                continue;
            }
            anyCandidate = true;
            const EndpointPace::Room room = endpoint.pace->RoomAt(now);
            if (room.requests <= 0) {
                lookAgain = std::min(lookAgain, room.lookAgain);
                continue;
            }
            // The most room first; on a tie the one with fewer requests under way, then the lower number.
            const int inFlight = endpoint.pace->inFlight();
            if (!best || room.requests > bestRoom ||
                (room.requests == bestRoom && inFlight < endpoints_[*best].pace->inFlight())) {
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
        changed_.wait_until(lock, lookAgain);
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

std::optional<EndpointPool::Clock::duration> EndpointPool::Book(std::size_t index, Clock::time_point startedAt,
                                                                const GenerationOutcome& outcome, bool headersSeen) {
    std::vector<Text> log;
    std::optional<Clock::duration> hold;
    {
        std::lock_guard lock(mutex_);
        Endpoint& endpoint = endpoints_[index];
        EndpointPace& pace = *endpoint.pace;
        const Clock::time_point now = Clock::now();
        if (outcome.cancelled) {
            pace.Finished(startedAt, EndpointPace::Result::kNoAnswer, {}, std::nullopt, now);
        } else {
            if (!headersSeen && pace.Announced(startedAt, outcome.rateLimits, now)) {
                log.push_back(LimitsLine(endpoint));
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
                const int doublings = std::clamp(endpoint.restsInARow, 0, 10);
                const auto period = std::min(rules_.longestRest, rules_.firstRest * (1 << doublings));
                Rest(endpoint, period, "连续失败" + std::to_string(endpoint.failuresInARow) + "次", now, log);
            }

            if (change.holdFor) {
                hold = change.holdFor;
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
    return hold;
}

GenerationOutcome EndpointPool::Visit(Choice choice, const Text& keyword, const Text& mainKey,
                                      const std::atomic<bool>& stop) {
    const std::size_t index = choice.index;
    const PoolEndpoint& endpoint = endpoints_[index].endpoint;
    const Text& key = endpoint.key.empty() ? mainKey : endpoint.key;
    for (int attempt = 1;; ++attempt) {
        const Clock::time_point startedAt = choice.startedAt;
        bool headersSeen = false;
        const auto onResponseStart = [&](int, const Text& headers) {
            const RateLimits limits = ReadRateLimits(headers, std::time(nullptr));
            Text line;
            {
                std::lock_guard lock(mutex_);
                headersSeen = true;
                if (endpoints_[index].pace->Announced(startedAt, limits, Clock::now())) {
                    line = LimitsLine(endpoints_[index]);
                }
            }
            changed_.notify_all();
            if (!line.empty()) {
                RunLog(line);
            }
        };
        GenerationOutcome outcome = endpoint.request(keyword, key, &stop, onResponseStart);
        const std::optional<Clock::duration> hold = Book(index, startedAt, outcome, headersSeen);
        if (outcome.ok || outcome.cancelled || outcome.unusableSettings || outcome.endpointUnusable ||
            !outcome.transient || attempt > rules_.retries) {
            return outcome;
        }
        if (Resting(index)) {
            return outcome;  // the keyword goes on elsewhere
        }
        const auto delay = hold ? std::chrono::ceil<std::chrono::milliseconds>(*hold)
                                : retry::Delay(attempt, outcome.retryAfterSeconds, retry::Jitter());
        const Text reason = outcome.status == 0 ? Text("没有收到回复") : "HTTP " + std::to_string(outcome.status);
        RunLog("关键词【" + keyword + "】请求失败（" +
               (endpoints_.size() > 1 ? endpoints_[index].name + "，" : Text()) + reason + "），" + retry::DelayText(delay) +
               "后第" + std::to_string(attempt) + "次重试");
        // After a 429 the endpoint itself holds back until it may be asked again.
        if (!hold && !SharedPause::Sleep(delay, stop)) {
            return Cancelled();
        }
        choice = Choose({}, index, stop);
        if (choice.kind == Choice::Kind::kStopped) {
            return Cancelled();
        }
        if (choice.kind != Choice::Kind::kChosen) {
            return outcome;  // the endpoint rests now: the keyword goes on elsewhere
        }
    }
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

GenerationOutcome EndpointPool::Request(const Text& keyword, const Text& mainKey, const std::atomic<bool>& stop) {
    std::vector<bool> tried(endpoints_.size(), false);
    std::optional<GenerationOutcome> last;
    while (true) {
        const Choice choice = Choose(tried, std::nullopt, stop);
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
        if (last) {
            RunLog("关键词【" + keyword + "】改由" + endpoints_[choice.index].name + "生成" +
                   (last->errorDetail.empty() ? Text() : "（" + last->errorDetail + "）"));
        }
        GenerationOutcome outcome = Visit(choice, keyword, mainKey, stop);
        tried[choice.index] = true;
        if (outcome.ok || outcome.cancelled || outcome.unusableSettings ||
            (!outcome.transient && !outcome.endpointUnusable)) {
            if (!outcome.ok && !outcome.cancelled && !outcome.unusableSettings && !outcome.errorDetail.empty()) {
                outcome.errorDetail = Named(choice.index, outcome.errorDetail);
            }
            return outcome;
        }
        if (!outcome.errorDetail.empty()) {
            outcome.errorDetail = Named(choice.index, outcome.errorDetail);
        }
        last = std::move(outcome);
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
        RunLog(endpoints_[i].name + "：文章" + std::to_string(all[i].articles) + "篇，失败" +
               std::to_string(all[i].failures) + "次，429回答" + std::to_string(all[i].rateLimited) + "次");
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

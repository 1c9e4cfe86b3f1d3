// The rate limits of a reply, and the pace of one endpoint driven through simulated services on a
// virtual clock.

#include "services/pacing.h"

#include <gtest/gtest.h>

#include <climits>
#include <queue>
#include <random>

#include "services/rate_limits.h"

namespace qj {
namespace {

using std::chrono::milliseconds;
using Clock = EndpointPace::Clock;

TEST(RetryAfterSeconds, SecondsOrADate) {
    const std::time_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(RetryAfterSeconds("Content-Type: application/json\r\nRetry-After: 20", now), 20);
    EXPECT_EQ(RetryAfterSeconds("retry-after:7\r\nX: y", now), 7);
    EXPECT_EQ(RetryAfterSeconds("Retry-After: Sun, 06 Nov 1994 08:50:37 GMT", now), 60);
    EXPECT_EQ(RetryAfterSeconds("Retry-After: Sun, 06 Nov 1994 08:40:00 GMT", now), 0);
    EXPECT_EQ(RetryAfterSeconds("Retry-After: 99999999999", now), INT_MAX);
    EXPECT_FALSE(RetryAfterSeconds("Retry-After: soon", now));
    EXPECT_FALSE(RetryAfterSeconds("Retry-After-Ms: 20\r\nX-Retry-After: 3", now));
    EXPECT_FALSE(RetryAfterSeconds("", now));
    // Dates no server means: absent, never an overflow.
    for (const char* nonsense :
         {"Sun, 06 Nov -2147483648 08:50:37 GMT", "Sun, 06 Nov 99999999999999999999 08:50:37 GMT",
          "Sun, 99 Nov 1994 08:50:37 GMT", "Sun, 06 Nov 1994 08:50", "Sun, 06 Foo 1994 08:50:37 GMT",
          "Sun, -6 Nov 1994 08:50:37 GMT", "Sun, 06 Nov 1994 99:50:37 GMT", ", "}) {
        EXPECT_FALSE(RetryAfterSeconds(std::string("Retry-After: ") + nonsense, now)) << nonsense;
    }
    EXPECT_EQ(RetryAfterSeconds("Retry-After: Sun, 6 Nov 1994 08:50:37 GMT", now), 60);
    EXPECT_EQ(RetryAfterSeconds("Retry-After: Fri, 31 Dec 9999 23:59:59 GMT", now), INT_MAX);
}

TEST(RateLimits, ReadFromTheHeadersAsServicesWriteThem) {
    const struct {
        const char* text;
        std::optional<long long> ms;
    } durations[] = {
        {"1s", 1000},         {"6m0s", 360000},      {"20ms", 20},        {"1h2m3.5s", 3723500},   {"0.5s", 500},
        {"30", 30000},        {"1.25", 1250},        {"17.999s", 17999},  {" 2m ", 120000},        {"", std::nullopt},
        {"5x", std::nullopt}, {"-1s", std::nullopt}, {"s", std::nullopt}, {"1e400", std::nullopt},
    };
    for (const auto& d : durations) {
        const auto parsed = ParseResetDuration(d.text);
        EXPECT_EQ(parsed ? std::optional<long long>(parsed->count()) : std::nullopt, d.ms) << d.text;
    }

    const RateLimits limits = ReadRateLimits(
        "Content-Type: text/event-stream\r\nX-RateLimit-Limit-Requests: 500\r\nx-ratelimit-remaining-requests: 499\r\n"
        "x-ratelimit-reset-requests: 120ms\r\nx-ratelimit-limit-tokens: 200000\r\nx-ratelimit-remaining-tokens: "
        "banana\r\nx-ratelimit-reset-tokens: 6m0s\r\nretry-after: 3",
        0);
    EXPECT_EQ(limits.requests.limit, 500);
    EXPECT_EQ(limits.requests.remaining, 499);
    EXPECT_EQ(limits.requests.reset, milliseconds(120));
    EXPECT_EQ(limits.tokens.limit, 200000);
    EXPECT_FALSE(limits.tokens.remaining);
    EXPECT_EQ(limits.tokens.reset, milliseconds(360000));
    EXPECT_EQ(limits.retryAfter, milliseconds(3000));
    EXPECT_EQ(ReadRateLimits("Retry-After: 3\r\nretry-after-ms: 250", 0).retryAfter, milliseconds(250));
    EXPECT_FALSE(ReadRateLimits("Content-Length: 3", 0).Any());

    // No header makes the pace wait longer than ten minutes.
    for (const char* block : {"Retry-After: 99999", "Retry-After: Thu, 31 Dec 2099 23:59:59 GMT",
                              "retry-after-ms: 1e300", "x-ratelimit-remaining-requests: 0\r\nx-ratelimit-reset-requests: 1e9",
                              "x-ratelimit-reset-tokens: 1000h"}) {
        const RateLimits capped = ReadRateLimits(block, 1700000000);
        EXPECT_TRUE(capped.capped) << block;
        EXPECT_EQ(std::max({capped.retryAfter.value_or(milliseconds(0)), capped.requests.reset.value_or(milliseconds(0)),
                            capped.tokens.reset.value_or(milliseconds(0))}),
                  kLongestWait)
            << block;
    }
    EXPECT_FALSE(ReadRateLimits("Retry-After: 600\r\nx-ratelimit-reset-tokens: 6m0s", 0).capped);
}

// A service on the virtual clock: windows of `window` from time zero, a hard budget of requests
// and tokens per window counted when a request arrives, the rate-limit headers as they stand when
// a reply leaves (or none), and optionally a limit of requests under way beyond which it answers
// 429 without saying anything else.
struct SimulatedService {
    milliseconds window{1000};
    int requestsPerWindow = 0;
    long long tokensPerWindow = 0;
    long long tokensPerReply = 100;
    int mostAtOnce = 0;
    bool announces = true;

    long long windowNumber = -1;
    int requests = 0;
    long long tokens = 0;
    int underWay = 0;

    void Roll(milliseconds now) {
        if (now / window != windowNumber) {
            windowNumber = now / window;
            requests = 0;
            tokens = 0;
        }
    }
    // False: 429.
    bool Admit(milliseconds now) {
        Roll(now);
        if ((requestsPerWindow > 0 && requests >= requestsPerWindow) ||
            (tokensPerWindow > 0 && tokens + tokensPerReply > tokensPerWindow) ||
            (mostAtOnce > 0 && underWay >= mostAtOnce)) {
            return false;
        }
        ++requests;
        tokens += tokensPerReply;
        ++underWay;
        return true;
    }
    RateLimits Announced(milliseconds now) {
        Roll(now);
        RateLimits limits;
        if (!announces) {
            return limits;
        }
        const milliseconds reset = window * (windowNumber + 1) - now;
        if (requestsPerWindow > 0) {
            limits.requests = {requestsPerWindow, requestsPerWindow - requests, reset};
        }
        if (tokensPerWindow > 0) {
            limits.tokens = {tokensPerWindow, tokensPerWindow - tokens, reset};
        }
        return limits;
    }
};

struct SimulatedRun {
    int answered = 0;
    int rateLimited = 0;
    milliseconds took{0};
};

// `workers` workers ask the service `count` times through one pace. A request reaches the service
// after a transit drawn from [0, transit], the service answers after a latency drawn from [lowest,
// highest] with its figures of that moment, and the reply travels back for another such transit: so
// requests sent side by side may arrive in another order, and a reply may bring older figures than
// one that came back before it.
SimulatedRun Simulate(SimulatedService service, int count, int workers, milliseconds lowest, milliseconds highest,
                      unsigned seed, milliseconds transit = milliseconds(0)) {
    EndpointPace pace(workers);
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> latency(lowest.count(), highest.count());
    std::uniform_int_distribution<long long> travel(0, transit.count());
    const Clock::time_point zero{};
    enum class Step { kArrival, kAnswer, kReceipt };
    struct Event {
        milliseconds at;
        milliseconds started;
        Step step;
        bool admitted = false;  // of an answer or its receipt
        RateLimits limits{};    // of a receipt: the figures the answer carried
        bool operator>(const Event& other) const { return at != other.at ? at > other.at : step > other.step; }
    };
    std::priority_queue<Event, std::vector<Event>, std::greater<>> events;
    SimulatedRun run;
    int started = 0;
    int done = 0;
    milliseconds now{0};
    while (done < count && now < milliseconds(86400000)) {
        // Start what the pace allows, one request per free worker.
        for (EndpointPace::Room room = pace.RoomAt(zero + now);
             room.requests > 0 && started - done < workers && started < count; room = pace.RoomAt(zero + now)) {
            pace.Start(zero + now);
            ++started;
            events.push({now + milliseconds(travel(random)), now, Step::kArrival});
        }
        const EndpointPace::Room room = pace.RoomAt(zero + now);
        milliseconds next = events.empty() ? milliseconds::max() : events.top().at;
        if (room.lookAgain != Clock::time_point::max()) {
            next = std::min(next, std::chrono::ceil<milliseconds>(room.lookAgain - zero));
        }
        if (next == milliseconds::max()) {
            ADD_FAILURE() << "the pace waits for nothing at " << now.count() << " ms";
            break;
        }
        now = std::max(now, next);
        while (!events.empty() && events.top().at <= now) {
            Event event = events.top();
            events.pop();
            switch (event.step) {
                case Step::kArrival:
                    event.admitted = service.Admit(event.at);
                    if (!event.admitted) {
                        ++run.rateLimited;
                    }
                    event.step = Step::kAnswer;
                    event.at += event.admitted ? milliseconds(latency(random)) : milliseconds(1);
                    events.push(event);
                    break;
                case Step::kAnswer:
                    event.limits = service.Announced(event.at);
                    if (event.admitted) {
                        --service.underWay;
                    }
                    event.step = Step::kReceipt;
                    event.at += milliseconds(travel(random));
                    events.push(event);
                    break;
                case Step::kReceipt:
                    pace.Announced(zero + event.started, event.limits, zero + event.at);
                    if (event.admitted) {
                        ++run.answered;
                        ++done;
                    } else {
                        --started;  // the same keyword asks again
                    }
                    pace.Finished(zero + event.started,
                                  event.admitted ? EndpointPace::Result::kSuccess : EndpointPace::Result::kRateLimited,
                                  event.limits, event.admitted ? std::optional<long long>(service.tokensPerReply)
                                                               : std::nullopt,
                                  zero + event.at);
                    break;
            }
        }
    }
    run.took = now;
    return run;
}

// Whatever the budget, the latency, the transit and the workers, no request is started that the
// announced budget does not cover, and a budget that binds is used to the full.
TEST(EndpointPace, KeepsWithinAnnouncedBudgetsAndUsesThem) {
    unsigned seed = 1;
    for (const int requestsPerWindow : {1, 3, 10, 40}) {
        for (const int workers : {1, 4, 32}) {
            for (const milliseconds window : {milliseconds(200), milliseconds(1000), milliseconds(60000)}) {
                for (const milliseconds transit : {milliseconds(0), window / 10, window / 3}) {
                    SCOPED_TRACE(::testing::Message() << requestsPerWindow << " per " << window.count() << " ms, "
                                                      << workers << " workers, transit up to " << transit.count()
                                                      << " ms");
                    SimulatedService service;
                    service.window = window;
                    service.requestsPerWindow = requestsPerWindow;
                    const int count = requestsPerWindow * 6;
                    const SimulatedRun run =
                        Simulate(service, count, workers, window / 20, window / 5, ++seed, transit);
                    EXPECT_EQ(run.answered, count);
                    EXPECT_EQ(run.rateLimited, 0);
                    if (workers >= requestsPerWindow) {
                        // Six windows' worth of budget: the run ends within the seventh window (and
                        // the transit of the last requests).
                        EXPECT_LE(run.took, window * 7 + transit * 2);
                    }
                }
            }
        }
    }

    // Five per two seconds and eight workers, over many draws of latencies and transits: a reply that
    // brings older figures than one come back before it, or a request started earlier that reaches
    // the service later, must not let a sixth request into a window.
    for (unsigned draw = 0; draw < 300; ++draw) {
        SimulatedService service;
        service.window = milliseconds(2000);
        service.requestsPerWindow = 5;
        const milliseconds transit(draw % 3 * 150);
        const SimulatedRun run = Simulate(service, 30, 8, milliseconds(0), milliseconds(draw % 2 ? 50 : 600),
                                          1000 + draw, transit);
        EXPECT_EQ(run.rateLimited, 0) << "draw " << draw;
        EXPECT_LE(run.took, milliseconds(14000) + transit * 2) << "draw " << draw;
    }

    // A budget of tokens: what a request costs is learnt from the replies.
    for (const milliseconds transit : {milliseconds(0), milliseconds(300)}) {
        SCOPED_TRACE(::testing::Message() << "tokens, transit up to " << transit.count() << " ms");
        SimulatedService tokens;
        tokens.tokensPerWindow = 500;
        const SimulatedRun run = Simulate(tokens, 50, 16, milliseconds(20), milliseconds(80), 99, transit);
        EXPECT_EQ(run.answered, 50);
        EXPECT_EQ(run.rateLimited, 0);
        EXPECT_LE(run.took, milliseconds(11000) + transit * 2);
    }
}

// A service that says nothing but 429 once too many requests are under way: the concurrency halves
// on a 429 and grows again after rounds of successes, so such answers stay rare.
TEST(EndpointPace, ConcurrencyHalvesOnA429AndGrowsBack) {
    SimulatedService service;
    service.mostAtOnce = 4;
    service.announces = false;
    const SimulatedRun run = Simulate(service, 400, 32, milliseconds(100), milliseconds(300), 7);
    EXPECT_EQ(run.answered, 400);
    // The first wave meets 27 of them (nothing told the pace before); not many more follow.
    EXPECT_LE(run.rateLimited, 50);

    // Eight requests under way; the 429s answer the last three. The first one halves the
    // concurrency; the others were under way with it and change nothing.
    EndpointPace pace(8);
    const Clock::time_point t0{};
    for (int i = 0; i < 8; ++i) {
        pace.Start(t0 + milliseconds(i));
    }
    for (int i = 7; i >= 5; --i) {
        const EndpointPace::Change change =
            pace.Finished(t0 + milliseconds(i), EndpointPace::Result::kRateLimited, {.retryAfter = milliseconds(2000)},
                          std::nullopt, t0 + milliseconds(10));
        EXPECT_EQ(change.holdFor, milliseconds(2000));
        EXPECT_EQ(change.concurrency, i == 7 ? std::optional<int>(4) : std::nullopt);
    }
    EXPECT_EQ(pace.RoomAt(t0 + milliseconds(1000)).requests, 0);
    EXPECT_EQ(pace.RoomAt(t0 + milliseconds(1000)).lookAgain, t0 + milliseconds(2010));
    for (int i = 0; i < 5; ++i) {
        pace.Finished(t0 + milliseconds(i), EndpointPace::Result::kSuccess, {}, std::nullopt, t0 + milliseconds(2100));
    }
    EXPECT_EQ(pace.concurrency(), 5);  // a round of four successes
    EXPECT_EQ(pace.RoomAt(t0 + milliseconds(2100)).requests, 5);

    // A 429 that names no time holds back for a second, then two, four …; without retries always
    // for a second.
    for (const bool growing : {true, false}) {
        EndpointPace paced(4, growing);
        std::vector<long long> holds;
        for (int i = 0; i < 3; ++i) {
            const Clock::time_point at = t0 + std::chrono::seconds(100 * i);
            paced.Start(at);
            holds.push_back(std::chrono::duration_cast<milliseconds>(
                                *paced.Finished(at, EndpointPace::Result::kRateLimited, {}, std::nullopt, at).holdFor)
                                .count());
        }
        const std::vector<long long> expected =
            growing ? std::vector<long long>{1000, 2000, 4000} : std::vector<long long>{1000, 1000, 1000};
        EXPECT_EQ(holds, expected);
    }

    // A 429 to a request that started with two others under way: the service took two.
    EndpointPace small(8);
    for (int i = 0; i < 8; ++i) {
        small.Start(t0 + milliseconds(i));
    }
    EXPECT_EQ(
        small
            .Finished(t0 + milliseconds(2), EndpointPace::Result::kRateLimited, {}, std::nullopt, t0 + milliseconds(10))
            .concurrency,
        2);
}

}  // namespace
}  // namespace qj

#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

#include "text/types.h"

namespace qj {

// When and how long to wait before a failed exchange is tried again.
namespace retry {

inline constexpr int kMaxRetries = 10;
inline constexpr std::chrono::seconds kMaxDelay{60};

// Whether a failure is worth another try: no reply at all (connection refused, time-out, a reply
// cut off), "too many requests" (429) and server errors (5xx). A refused key (401), a bad request
// (400) or a reply without text would fail again the same way.
bool IsTransient(int status, bool gotReply);

// The wait before retry number `attempt` (1 for the first retry): 1 s, 2 s, 4 s … capped at 60 s,
// each spread by a random factor from 0.8 to 1.2 (`jitter01` from 0 to 1), so that workers that
// failed together do not all come back at once. A Retry-After of the service is honoured: the wait
// is never shorter than it (itself capped at 60 s).
std::chrono::milliseconds Delay(int attempt, std::optional<int> retryAfterSeconds, double jitter01);

// The seconds of a Retry-After header value: a number of seconds or an HTTP date (then counted
// from `now`); nullopt when it is neither.
std::optional<int> ParseRetryAfter(const Text& value, std::time_t now);

// The Retry-After value among response header lines ("Name: value" joined by CR LF), if any.
std::optional<int> RetryAfterOf(const Text& responseHeaders, std::time_t now);

}  // namespace retry

// A pause shared by every worker of a run: when the service says "too many requests", all workers
// hold back until the pause is over, instead of each hammering the service on its own.
class SharedPause {
public:
    // Extends the pause to at least `delay` from now.
    void PauseFor(std::chrono::milliseconds delay);

    // Waits until no pause is in force, or until `stop` becomes true (checked every 50 ms).
    // Returns false when stopped.
    bool WaitUntilClear(const std::atomic<bool>& stop);

    // Waits for `delay`, or until `stop` becomes true. Returns false when stopped.
    static bool Sleep(std::chrono::milliseconds delay, const std::atomic<bool>& stop);

private:
    std::mutex mutex_;
    std::chrono::steady_clock::time_point until_{};
};

}  // namespace qj

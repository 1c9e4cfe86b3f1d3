#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj {

// When and how long to wait before a failed exchange is tried again.
namespace retry {

inline constexpr int kMaxRetries = 10;

// The longest Retry-After honoured: a service that asks for more (a day, a date far ahead) gets
// this much, then its answer is seen again.
inline constexpr int kMaxRetryAfterSeconds = 600;

// The wait before retry number `attempt` (1 for the first retry): 1 s, 2 s, 4 s … capped at 60 s,
// each spread by a random factor from 0.8 to 1.2 (`jitter01` from 0 to 1), so that workers that
// failed together do not all come back at once. A Retry-After of the service is honoured: the wait
// is never shorter than it (up to kMaxRetryAfterSeconds).
std::chrono::milliseconds Delay(int attempt, std::optional<int> retryAfterSeconds, double jitter01);

// The service's Retry-After as a wait, within 0 and kMaxRetryAfterSeconds; nullopt when absent.
std::optional<std::chrono::milliseconds> AskedWait(std::optional<int> retryAfterSeconds);

// A random number from 0 to 1 for the jitter.
double Jitter();

// A delay as the run log writes it: seconds with one decimal place, none when it is 0 ("1.5秒",
// "2秒").
Text DelayText(std::chrono::milliseconds delay);

// Real waits last this factor of the delays (1 unless a test speeds them up); logged delays do not
// change.
void SetTimeScale(double factor);
double TimeScale();

}  // namespace retry

// A pause shared by every worker of a run: when the service says "too many requests", all workers
// hold back until the pause is over, instead of each hammering the service on its own. With
// `growing` (a run that retries), the pause grows while such answers keep coming and starts small
// again after any other answer. Without it (no retries: each keyword asks once), the pause is the
// answer's Retry-After or the first back-off step, never more, so a list whose keywords all meet a
// 429 fails at the pace the service asks for instead of ever more slowly.
class SharedPause {
public:
    explicit SharedPause(bool growing = true) : growing_(growing) {}

    // A "too many requests" answer: pauses every worker for the next back-off step (at least the
    // Retry-After of the answer); returns the pause.
    std::chrono::milliseconds RateLimited(std::optional<int> retryAfterSeconds);
    // Any other answer ends the series of "too many requests".
    void Answered();

    // Waits until no pause is in force, or until `stop` becomes true. Returns false when stopped.
    bool WaitUntilClear(const std::atomic<bool>& stop);

    // Waits for `delay` (times the retry time scale), or until `stop` becomes true. Returns false
    // when stopped.
    static bool Sleep(std::chrono::milliseconds delay, const std::atomic<bool>& stop);

private:
    const bool growing_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point until_{};
    int streak_ = 0;
};

// Whether the text of an error reply (UTF-8 or GBK) says that the account's quota or balance is
// used up: then a 429 is no passing rate limit but as final as a refused key.
bool SaysQuotaIsUsedUp(std::string_view reply);

}  // namespace qj

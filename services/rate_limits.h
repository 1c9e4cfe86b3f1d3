#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>

namespace qj {

// The longest wait any header of a reply can impose. A service that names a longer one (a reset in
// a thousand hours, a Retry-After date years ahead) is asked again after this long.
inline constexpr std::chrono::milliseconds kLongestWait = std::chrono::minutes(10);

// One budget a service announces in its replies (requests or tokens): its size, what is left of it
// and how long until it is whole again.
struct RateBudget {
    std::optional<long long> limit;
    std::optional<long long> remaining;
    std::optional<std::chrono::milliseconds> reset;
};

struct RateLimits {
    RateBudget requests{};
    RateBudget tokens{};
    std::optional<std::chrono::milliseconds> retryAfter;  // Retry-After or retry-after-ms
    bool capped = false;  // a header named a longer wait than kLongestWait: it stands as kLongestWait

    bool Any() const { return requests.remaining || requests.limit || tokens.remaining || tokens.limit || retryAfter; }
};

// The rate-limit lines of a response header block ("Name: value" lines joined by CR LF):
// x-ratelimit-limit-requests, x-ratelimit-remaining-requests, x-ratelimit-reset-requests, the same
// three for tokens, Retry-After (seconds, or an HTTP date counted from `now`) and retry-after-ms.
// Names in any case; a value that cannot be read counts as absent. No wait exceeds kLongestWait.
RateLimits ReadRateLimits(std::string_view headerBlock, std::time_t now);

// The Retry-After value of a response header block ("Name: value" lines joined by CR LF): seconds,
// or an HTTP date turned into seconds from `now` (never below 0). nullopt when absent or unreadable.
std::optional<int> RetryAfterSeconds(std::string_view headerBlock, std::time_t now);

// A reset time as services write it: "1s", "6m0s", "20ms", "1h2m3.5s", "0.5s", or a plain number
// of seconds ("30", "1.5"). nullopt when it cannot be read; at most a day.
std::optional<std::chrono::milliseconds> ParseResetDuration(std::string_view text);

}  // namespace qj

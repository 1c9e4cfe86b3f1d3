#include "generation/retry_policy.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "text/text_helpers.h"

namespace qj {

namespace retry {

bool IsTransient(int status, bool gotReply) {
    if (!gotReply || status == 0) {
        return true;
    }
    return status == 429 || (status >= 500 && status <= 599);
}

std::chrono::milliseconds Delay(int attempt, std::optional<int> retryAfterSeconds, double jitter01) {
    using std::chrono::milliseconds;
    const int exponent = std::clamp(attempt - 1, 0, 16);
    const double base = std::min(1000.0 * std::pow(2.0, exponent), 60000.0);
    const double spread = 0.8 + 0.4 * std::clamp(jitter01, 0.0, 1.0);
    auto delay = milliseconds(static_cast<long long>(std::min(base * spread, 60000.0)));
    if (retryAfterSeconds && *retryAfterSeconds > 0) {
        const auto asked = milliseconds(std::min<long long>(*retryAfterSeconds, 60) * 1000);
        delay = std::max(delay, asked);
    }
    return delay;
}

std::optional<int> ParseRetryAfter(const Text& value, std::time_t now) {
    std::size_t begin = value.find_first_not_of(" \t");
    if (begin == Text::npos) {
        return std::nullopt;
    }
    const std::size_t end = value.find_last_not_of(" \t");
    const Text v = value.substr(begin, end - begin + 1);
    if (std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return v.size() > 9 ? 999999999 : std::atoi(v.c_str());
    }
    std::tm when{};
    const char* rest = strptime(v.c_str(), "%a, %d %b %Y %H:%M:%S", &when);
    if (!rest) {
        return std::nullopt;
    }
    const std::time_t at = timegm(&when);
    return static_cast<int>(std::max<long long>(0, static_cast<long long>(at) - static_cast<long long>(now)));
}

std::optional<int> RetryAfterOf(const Text& responseHeaders, std::time_t now) {
    for (const Text& line : SplitText(responseHeaders, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon == Text::npos) {
            continue;
        }
        Text name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name == "retry-after") {
            return ParseRetryAfter(line.substr(colon + 1), now);
        }
    }
    return std::nullopt;
}

}  // namespace retry

void SharedPause::PauseFor(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    until_ = std::max(until_, std::chrono::steady_clock::now() + delay);
}

bool SharedPause::WaitUntilClear(const std::atomic<bool>& stop) {
    while (true) {
        std::chrono::steady_clock::time_point until;
        {
            std::lock_guard lock(mutex_);
            until = until_;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return !stop.load();
        }
        if (!Sleep(std::chrono::duration_cast<std::chrono::milliseconds>(until - now), stop)) {
            return false;
        }
    }
}

bool SharedPause::Sleep(std::chrono::milliseconds delay, const std::atomic<bool>& stop) {
    const auto until = std::chrono::steady_clock::now() + delay;
    while (!stop.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now,
                                                                                 std::chrono::milliseconds(50)));
    }
    return false;
}

}  // namespace qj

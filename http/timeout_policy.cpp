#include "http/timeout_policy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qj {

namespace {

constexpr int kShortDefaultMs = 15000;
constexpr long kDefaultConnectMs = 60000;
constexpr long kDefaultIdleMs = 30000;
constexpr long kLongestProxySetUpMs = 30000;

}  // namespace

std::optional<int> TimeoutMilliseconds(int timeoutSeconds) {
    if (timeoutSeconds == -1) {
        return std::nullopt;
    }
    if (timeoutSeconds < 1) {
        return kShortDefaultMs;
    }
    const double ms = std::trunc(static_cast<double>(timeoutSeconds) * 1000.0);
    constexpr double kMax = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    return static_cast<int>(ms > kMax ? kMax : ms);
}

TimeoutPolicy TimeoutPolicyFor(std::optional<int> timeoutMs) {
    if (!timeoutMs) {
        return TimeoutPolicy{0, kDefaultConnectMs, kDefaultIdleMs};
    }
    return TimeoutPolicy{*timeoutMs, 0, *timeoutMs};
}

long ProxySetUpMs(const TimeoutPolicy& policy) {
    const long own = policy.resolveAndConnectMs > 0 ? policy.resolveAndConnectMs : policy.connectMs;
    return own > 0 ? std::min(own, kLongestProxySetUpMs) : kLongestProxySetUpMs;
}

}  // namespace qj

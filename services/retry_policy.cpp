#include "services/retry_policy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>

#include "text/ascii.h"
#include "text/code_page.h"

namespace qj {

namespace retry {

namespace {
std::atomic<double> g_timeScale{1.0};
}

Text DelayText(std::chrono::milliseconds delay) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", static_cast<double>(delay.count()) / 1000.0);
    Text text = buffer;
    if (text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text + "秒";
}

std::chrono::milliseconds Delay(int attempt, std::optional<int> retryAfterSeconds, double jitter01) {
    using std::chrono::milliseconds;
    const int exponent = std::clamp(attempt - 1, 0, 16);
    const double base = std::min(1000.0 * std::pow(2.0, exponent), 60000.0);
    const double spread = 0.8 + 0.4 * std::clamp(jitter01, 0.0, 1.0);
    const auto delay = milliseconds(static_cast<long long>(std::min(base * spread, 60000.0)));
    return std::max(delay, AskedWait(retryAfterSeconds).value_or(milliseconds(0)));
}

std::optional<std::chrono::milliseconds> AskedWait(std::optional<int> retryAfterSeconds) {
    if (!retryAfterSeconds) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::clamp(*retryAfterSeconds, 0, kMaxRetryAfterSeconds));
}

double Jitter() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

void SetTimeScale(double factor) {
    g_timeScale.store(factor);
}

double TimeScale() {
    return g_timeScale.load();
}

}  // namespace retry

bool SaysQuotaIsUsedUp(std::string_view reply) {
    // As OpenAI-compatible services and the relays in front of them word it. A bare "quota" is no
    // sign: several services call their per-minute limits quotas ("Allocated quota exceeded").
    static constexpr std::array<const char*, 8> kAscii = {
        "insufficient_quota",   "insufficient_user_quota", "quota is not enough", "exceeded_current_quota",
        "insufficient balance", "insufficient_balance",    "arrearage",           "billing_hard_limit"};
    static constexpr std::array<const char*, 8> kChinese = {"余额不足",   "额度不足", "额度已用尽", "额度用尽",
                                                            "额度已用完", "额度用完", "配额不足",   "欠费"};
    std::string lower(reply);
    for (char& c : lower) {
        c = LowerAscii(c);
    }
    for (const char* word : kAscii) {
        if (lower.find(word) != std::string::npos) {
            return true;
        }
    }
    for (const char* gbk : kChinese) {
        if (reply.find(gbk) != std::string_view::npos || reply.find(AnsiToUtf8(gbk)) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

std::chrono::milliseconds SharedPause::RateLimited(std::optional<int> retryAfterSeconds) {
    std::lock_guard lock(mutex_);
    const auto delay = growing_ ? retry::Delay(++streak_, retryAfterSeconds, retry::Jitter())
                                : retry::AskedWait(retryAfterSeconds).value_or(retry::Delay(1, std::nullopt, 0.5));
    const auto scaled = std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay * retry::TimeScale());
    until_ = std::max(until_, std::chrono::steady_clock::now() + scaled);
    return delay;
}

void SharedPause::Answered() {
    std::lock_guard lock(mutex_);
    streak_ = 0;
}

namespace {

// Sleeps in short steps until `until`, so that `stop` ends the wait at once. False when stopped.
bool SleepUntil(std::chrono::steady_clock::time_point until, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
    }
    return false;
}

}  // namespace

bool SharedPause::WaitUntilClear(const std::atomic<bool>& stop) {
    // The pause may grow while we wait: look again after each stretch.
    while (true) {
        std::chrono::steady_clock::time_point until;
        {
            std::lock_guard lock(mutex_);
            until = until_;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return !stop.load();
        }
        if (!SleepUntil(until, stop)) {
            return false;
        }
    }
}

bool SharedPause::Sleep(std::chrono::milliseconds delay, const std::atomic<bool>& stop) {
    const auto scaled = std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay * retry::TimeScale());
    return SleepUntil(std::chrono::steady_clock::now() + scaled, stop);
}

}  // namespace qj

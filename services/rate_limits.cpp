#include "services/rate_limits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>

#include "platform/local_time.h"
#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

using std::chrono::milliseconds;

constexpr double kLongestWaitMs = static_cast<double>(kLongestWait.count());
constexpr double kLongestResetMs = 24.0 * 3600 * 1000;

bool SameName(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() && FindText(name, wanted, 0, true) == 0;
}

std::optional<long long> WholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> Decimal(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0) {
        return std::nullopt;
    }
    return value;
}

// A wait in milliseconds as a duration, within kLongestWait; `capped` is set when it was longer.
milliseconds Bounded(double ms, bool& capped) {
    if (ms > kLongestWaitMs) {
        capped = true;
        return kLongestWait;
    }
    return milliseconds(static_cast<long long>(std::ceil(ms)));
}

// A reset time in milliseconds, as long as it is written (finite), or nullopt.
std::optional<double> ResetMilliseconds(std::string_view text) {
    text = TrimAsciiBlanks(text);
    if (text.empty()) {
        return std::nullopt;
    }
    if (const std::optional<double> seconds = Decimal(text)) {
        return *seconds * 1000;
    }
    // Go's way of writing a duration: numbers each followed by a unit, largest unit first.
    static constexpr std::pair<std::string_view, double> kUnits[] = {{"ms", 1.0},      {"us", 0.001},  {"ns", 0.000001},
                                                                     {"h", 3600000.0}, {"m", 60000.0}, {"s", 1000.0}};
    double total = 0;
    while (!text.empty()) {
        const std::size_t numberEnd = text.find_first_not_of("0123456789.");
        if (numberEnd == 0 || numberEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::optional<double> number = Decimal(text.substr(0, numberEnd));
        if (!number) {
            return std::nullopt;
        }
        text.remove_prefix(numberEnd);
        bool known = false;
        for (const auto& [unit, factor] : kUnits) {
            if (text.starts_with(unit)) {
                total += *number * factor;
                text.remove_prefix(unit.size());
                known = true;
                break;
            }
        }
        if (!known) {
            return std::nullopt;
        }
    }
    if (!std::isfinite(total)) {
        return std::nullopt;
    }
    return total;
}

// Reads `count` digits at `p` of `text` into `number`; false when they are not all digits.
bool Digits(std::string_view text, std::size_t& p, std::size_t count, int& number) {
    if (p + count > text.size()) {
        return false;
    }
    number = 0;
    for (std::size_t end = p + count; p < end; ++p) {
        if (text[p] < '0' || text[p] > '9') {
            return false;
        }
        number = number * 10 + (text[p] - '0');
    }
    return true;
}

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") as a UTC calendar time; nullopt for anything
// else, a year that is not four digits among it, so no field can overflow.
std::optional<std::tm> HttpDate(std::string_view date) {
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::size_t p = date.find(", ");
    if (p == std::string_view::npos) {
        return std::nullopt;
    }
    p += 2;
    std::tm when{};
    int day = 0, year = 0;
    const bool twoDigitDay = p + 1 < date.size() && date[p + 1] >= '0' && date[p + 1] <= '9';
    if (!Digits(date, p, twoDigitDay ? 2 : 1, day) || date.substr(p, 1) != " ") {
        return std::nullopt;
    }
    const std::string_view month = date.substr(p + 1, 3);
    const auto found = std::find(kMonths.begin(), kMonths.end(), month);
    p += 4;
    if (found == kMonths.end() || date.substr(p, 1) != " ") {
        return std::nullopt;
    }
    ++p;
    if (!Digits(date, p, 4, year) || date.substr(p, 1) != " " || !Digits(date, ++p, 2, when.tm_hour) ||
        date.substr(p, 1) != ":" || !Digits(date, ++p, 2, when.tm_min) || date.substr(p, 1) != ":" ||
        !Digits(date, ++p, 2, when.tm_sec)) {
        return std::nullopt;
    }
    if (day < 1 || day > 31 || when.tm_hour > 23 || when.tm_min > 59 || when.tm_sec > 60) {
        return std::nullopt;
    }
    when.tm_mday = day;
    when.tm_mon = static_cast<int>(found - kMonths.begin());
    when.tm_year = year - 1900;
    return when;
}

}  // namespace

std::optional<int> RetryAfterSeconds(std::string_view headerBlock, std::time_t now) {
    for (const Text& line : SplitText(headerBlock, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon == Text::npos) {
            continue;
        }
        const std::string_view name = TrimAsciiBlanks(std::string_view(line).substr(0, colon));
        if (name.size() != 11 || FindText(name, "retry-after", 0, true) != 0) {
            continue;
        }
        const std::string_view value = TrimAsciiBlanks(std::string_view(line).substr(colon + 1));
        if (value.empty()) {
            return std::nullopt;
        }
        if (value.find_first_not_of("0123456789") == std::string_view::npos) {
            long long seconds = 0;
            for (const char c : value) {
                seconds = std::min<long long>(seconds * 10 + (c - '0'), INT_MAX);
            }
            return static_cast<int>(seconds);
        }
        // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
        const std::optional<std::tm> when = HttpDate(value);
        if (!when) {
            return std::nullopt;
        }
        const std::time_t at = UtcMoment(*when);
        if (at == static_cast<std::time_t>(-1)) {
            return std::nullopt;
        }
        const long long seconds = static_cast<long long>(at) - static_cast<long long>(now);
        return static_cast<int>(std::clamp<long long>(seconds, 0, INT_MAX));
    }
    return std::nullopt;
}

std::optional<milliseconds> ParseResetDuration(std::string_view text) {
    const std::optional<double> ms = ResetMilliseconds(text);
    return ms ? std::optional(milliseconds(static_cast<long long>(std::ceil(std::min(*ms, kLongestResetMs)))))
              : std::nullopt;
}

RateLimits ReadRateLimits(std::string_view headerBlock, std::time_t now) {
    RateLimits limits;
    const std::pair<std::string_view, std::optional<long long>*> counts[] = {
        {"x-ratelimit-limit-requests", &limits.requests.limit},
        {"x-ratelimit-remaining-requests", &limits.requests.remaining},
        {"x-ratelimit-limit-tokens", &limits.tokens.limit},
        {"x-ratelimit-remaining-tokens", &limits.tokens.remaining},
    };
    const std::pair<std::string_view, std::optional<milliseconds>*> resets[] = {
        {"x-ratelimit-reset-requests", &limits.requests.reset},
        {"x-ratelimit-reset-tokens", &limits.tokens.reset},
    };
    std::optional<milliseconds> retryAfterMs;
    for (const Text& line : SplitText(headerBlock, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon == Text::npos) {
            continue;
        }
        const std::string_view name = TrimAsciiBlanks(std::string_view(line).substr(0, colon));
        const std::string_view value = TrimAsciiBlanks(std::string_view(line).substr(colon + 1));
        for (const auto& [wanted, field] : counts) {
            if (SameName(name, wanted)) {
                *field = WholeNumber(value);
            }
        }
        for (const auto& [wanted, field] : resets) {
            if (SameName(name, wanted)) {
                const std::optional<double> ms = ResetMilliseconds(value);
                *field = ms ? std::optional(Bounded(*ms, limits.capped)) : std::nullopt;
            }
        }
        if (SameName(name, "retry-after-ms")) {
            if (const std::optional<double> ms = Decimal(value)) {
                retryAfterMs = Bounded(*ms, limits.capped);
            }
        }
    }
    // The finer of the two wins when both are there.
    if (retryAfterMs) {
        limits.retryAfter = retryAfterMs;
    } else if (const std::optional<int> seconds = RetryAfterSeconds(headerBlock, now)) {
        limits.retryAfter = Bounded(1000.0 * *seconds, limits.capped);
    }
    return limits;
}

}  // namespace qj

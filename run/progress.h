#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>

#include "text/types.h"

namespace qj {

// The figures of a run in progress.
struct ProgressFigures {
    int succeeded = 0;
    int failed = 0;
    int skipped = 0;
    int remaining = 0;  // keywords still in the list (and in flight)
    std::chrono::seconds elapsed{0};
    std::optional<std::chrono::seconds> timeLeft;  // once a keyword has been settled
    std::optional<int> articlesPerMinute;          // the current pace: articles of the last minute
};

// Counts the keywords of a run as they are settled and estimates the time left from the pace so
// far (which already reflects how many workers run). Safe for several workers.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressMeter(Clock::time_point start = Clock::now()) : start_(start) {}

    void Succeeded() { Count(&ProgressFigures::succeeded); }
    void Failed() { Count(&ProgressFigures::failed); }
    void Skipped() { Count(&ProgressFigures::skipped); }
    void SetRemaining(int remaining);

    ProgressFigures Figures(Clock::time_point now = Clock::now()) const;

private:
    void Count(int ProgressFigures::*field);

    Clock::time_point start_;
    mutable std::mutex mutex_;
    ProgressFigures figures_;
    // Settled keywords that cost a request, and when the last one was settled.
    int worked_ = 0;
    Clock::time_point lastSettled_{};
    std::deque<Clock::time_point> recentArticles_;  // of the last minute, oldest first
};

// "2时5分", "3分20秒", "45秒".
Text FormatDuration(std::chrono::seconds duration);

// The figures as one line: "已完成 12，失败 1，跳过 0，剩余 87，已用 3分20秒，预计还需 25分，速度 30篇/分钟".
Text ProgressText(const ProgressFigures& figures);

}  // namespace qj

#include "run/progress.h"

#include <algorithm>
#include <cstdio>

namespace qj {

namespace {
constexpr std::chrono::seconds kPaceWindow{60};
}

void ProgressMeter::Count(int ProgressFigures::*field) {
    std::lock_guard lock(mutex_);
    ++(figures_.*field);
    if (field != &ProgressFigures::skipped) {
        ++worked_;
        lastSettled_ = Clock::now();
    }
    if (field == &ProgressFigures::succeeded) {
        recentArticles_.push_back(lastSettled_);
        while (recentArticles_.front() < lastSettled_ - kPaceWindow) {
            recentArticles_.pop_front();
        }
    }
    if (figures_.remaining > 0) {
        --figures_.remaining;
    }
}

void ProgressMeter::SetRemaining(int remaining) {
    std::lock_guard lock(mutex_);
    figures_.remaining = remaining < 0 ? 0 : remaining;
}

ProgressFigures ProgressMeter::Figures(Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    ProgressFigures f = figures_;
    f.elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
    if (worked_ > 0) {
        // The pace up to the last settled keyword, over the keywords left.
        const double perKeyword = std::chrono::duration<double>(lastSettled_ - start_).count() / worked_;
        f.timeLeft = std::chrono::seconds(static_cast<long long>(perKeyword * f.remaining + 0.5));
    }
    // Articles of the last minute, or of the time so far while the run is younger than that.
    const auto since = now - kPaceWindow;
    const auto counted = std::count_if(recentArticles_.begin(), recentArticles_.end(),
                                       [since](Clock::time_point t) { return t >= since; });
    const double minutes =
        std::chrono::duration<double>(std::min<Clock::duration>(now - start_, kPaceWindow)).count() / 60;
    if (counted > 0 && minutes > 0) {
        f.articlesPerMinute = static_cast<int>(static_cast<double>(counted) / minutes + 0.5);
    }
    return f;
}

Text FormatDuration(std::chrono::seconds duration) {
    long long s = duration.count() < 0 ? 0 : duration.count();
    const long long hours = s / 3600;
    const long long minutes = (s % 3600) / 60;
    const long long seconds = s % 60;
    char buffer[64];
    if (hours > 0) {
        std::snprintf(buffer, sizeof buffer, "%lld时%lld分", hours, minutes);
    } else if (minutes > 0) {
        std::snprintf(buffer, sizeof buffer, "%lld分%lld秒", minutes, seconds);
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld秒", seconds);
    }
    return buffer;
}

Text ProgressText(const ProgressFigures& f) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "已完成 %d，失败 %d，跳过 %d，剩余 %d，已用 ", f.succeeded, f.failed,
                  f.skipped, f.remaining);
    Text text = buffer + FormatDuration(f.elapsed);
    if (f.timeLeft) {
        text += "，预计还需 " + FormatDuration(*f.timeLeft);
    }
    if (f.articlesPerMinute) {
        text += "，速度 " + std::to_string(*f.articlesPerMinute) + "篇/分钟";
    }
    return text;
}

}  // namespace qj

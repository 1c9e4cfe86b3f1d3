#include "run/log_line.h"

#include <cstdio>
#include <mutex>

#include "platform/local_time.h"

namespace qj {

namespace {

std::mutex g_clockMutex;
std::function<std::tm()> g_clock;

Text LineOf(const Text& message, const Text& stamp) {
    static constexpr std::string_view kOpen = "【";
    static constexpr std::string_view kClose = "】 > > >  ";
    Text line;
    line.reserve(kOpen.size() + stamp.size() + kClose.size() + message.size() + 2);
    line.append(kOpen).append(stamp).append(kClose).append(message).append("\r\n");
    return line;
}

// The time stamp of a line logged now. A run logs several lines per keyword, so the stamp of the
// current second is made once.
Text StampNow() {
    {
        std::lock_guard lock(g_clockMutex);
        if (g_clock) {
            return RunLogTimeStamp(g_clock());
        }
    }
    thread_local std::time_t stampedAt = -1;
    thread_local Text stamp;
    const std::time_t t = std::time(nullptr);
    if (t != stampedAt) {
        stamp = RunLogTimeStamp(LocalTime(t));
        stampedAt = t;
    }
    return stamp;
}

}  // namespace

Text RunLogTimeStamp(const std::tm& when) {
    char buffer[96];
    int n = std::snprintf(buffer, sizeof buffer, "%d年%d月%d日", when.tm_year + 1900, when.tm_mon + 1, when.tm_mday);
    Text stamp(buffer, static_cast<size_t>(n));
    if (when.tm_sec != 0) {
        n = std::snprintf(buffer, sizeof buffer, "%d时%d分%d秒", when.tm_hour, when.tm_min, when.tm_sec);
    } else if (when.tm_min != 0) {
        n = std::snprintf(buffer, sizeof buffer, "%d时%d分", when.tm_hour, when.tm_min);
    } else if (when.tm_hour != 0) {
        n = std::snprintf(buffer, sizeof buffer, "%d时", when.tm_hour);
    } else {
        n = 0;
    }
    stamp.append(buffer, static_cast<size_t>(n));
    return stamp;
}

Text RunLogLine(const Text& message, const std::tm& when) {
    return LineOf(message, RunLogTimeStamp(when));
}

Text RunLogLineNow(const Text& message) {
    return LineOf(message, StampNow());
}

std::tm RunLogNow() {
    {
        std::lock_guard lock(g_clockMutex);
        if (g_clock) {
            return g_clock();
        }
    }
    return LocalTime(std::time(nullptr));
}

void SetRunLogClock(std::function<std::tm()> clock) {
    std::lock_guard lock(g_clockMutex);
    g_clock = std::move(clock);
}

}  // namespace qj

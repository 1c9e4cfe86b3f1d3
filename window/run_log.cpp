#include "window/run_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/local_time.h"
#include "window/window_model.h"

namespace qj {

namespace {

std::atomic<WindowModel*> g_window{nullptr};
std::mutex g_clockMutex;
std::function<std::tm()> g_clock;

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

Text LineOf(const Text& message, const Text& stamp) {
    static constexpr std::string_view kOpen = "【";
    static constexpr std::string_view kClose = "】 > > >  ";
    Text line;
    line.reserve(kOpen.size() + stamp.size() + kClose.size() + message.size() + 2);
    line.append(kOpen).append(stamp).append(kClose).append(message).append("\r\n");
    return line;
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

void RunLog(const Text& message) {
    if (WindowModel* window = g_window.load()) {
        window->AppendText(kRunLogControl, LineOf(message, StampNow()));
    }
}

void SetRunLogWindow(WindowModel* window) {
    g_window.store(window);
}

void SetRunLogClock(std::function<std::tm()> clock) {
    std::lock_guard lock(g_clockMutex);
    g_clock = std::move(clock);
}

}  // namespace qj

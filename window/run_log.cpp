#include "window/run_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "window/window_model.h"

namespace qj {

namespace {

std::atomic<WindowModel*> g_window{nullptr};
std::mutex g_clockMutex;
std::function<std::tm()> g_clock;

std::tm Now() {
    {
        std::lock_guard lock(g_clockMutex);
        if (g_clock) {
            return g_clock();
        }
    }
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
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
    return "【" + RunLogTimeStamp(when) + "】 > > >  " + message + "\r\n";
}

void RunLog(const Text& message) {
    if (WindowModel* window = g_window.load()) {
        window->AppendText(kRunLogControl, RunLogLine(message, Now()));
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

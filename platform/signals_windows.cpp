#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/signals.h"

namespace qj {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<std::atomic<bool>*> g_stop{nullptr};
std::mutex g_watchMutex;
std::condition_variable g_watchEnded;
bool g_watching = false;

// Windows ends the process as soon as the handler of a closed console (or of a log-off or shut-down)
// returns, and at the latest some five seconds after the event. The handler therefore holds on
// until the watch ends, which is when the run has put its keywords back, and a little less long
// than Windows waits.
constexpr std::chrono::milliseconds kCloseGrace{4500};

BOOL WINAPI OnControlEvent(DWORD event) {
    g_interrupted.store(true);
    if (std::atomic<bool>* stop = g_stop.load()) {
        stop->store(true);
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        std::unique_lock lock(g_watchMutex);
        g_watchEnded.wait_for(lock, kCloseGrace, [] { return !g_watching; });
    }
    return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(std::atomic<bool>& stop) {
    g_interrupted.store(false);
    g_stop.store(&stop);
    {
        std::lock_guard lock(g_watchMutex);
        g_watching = true;
    }
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
    End();
}

bool InterruptWatch::End() {
    if (watching_) {
        SetConsoleCtrlHandler(OnControlEvent, FALSE);
        g_stop.store(nullptr);
        {
            std::lock_guard lock(g_watchMutex);
            g_watching = false;
        }
        g_watchEnded.notify_all();
        watching_ = false;
    }
    return g_interrupted.load();
}

bool InterruptWatch::Interrupted() const {
    return g_interrupted.load();
}

// Windows raises no signal for a write to a closed connection: the write fails with an error.
void IgnoreBrokenPipes() {}

// Nor has it a limit on file sizes that raises one.
void IgnoreFileSizeLimitSignal() {}

}  // namespace qj

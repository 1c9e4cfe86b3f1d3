#include "window/responsive_wait.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace qj {

namespace {

// How long the window's thread sleeps between two looks at its events.
constexpr std::chrono::milliseconds kEventInterval{10};

}  // namespace

void RunKeepingWindowResponsive(WindowModel& window, const std::function<void()>& work) {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread helper;
    try {
        helper = std::thread([&] {
            work();
            std::lock_guard lock(mutex);
            done = true;
            ended.notify_all();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the work runs here, as a plain blocking call.
        work();
        return;
    }
    std::unique_lock lock(mutex);
    while (!done) {
        lock.unlock();
        window.ProcessPendingMessages();
        lock.lock();
        ended.wait_for(lock, kEventInterval, [&] { return done; });
    }
    lock.unlock();
    helper.join();
}

}  // namespace qj

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace qj {

// Carries calls from any thread to the one thread a toolkit's window belongs to (the thread that
// made this object), in the order they were made.
//
// A call (Call) from another thread is queued and waits until the window thread has run it, so it
// is synchronous. Posted work (Post) is queued and not waited for, so a worker that only shows
// something is never held up by the window. The window thread itself never waits on another
// thread: a call made there runs at once. Once closing has begun, waiting calls are released with
// an empty result, queued work is dropped, and later calls from other threads return at once
// without running. (Whether a call on the window thread still finds a window is the toolkit's
// business.)
class WindowThreadCalls {
public:
    // `wake` asks the window thread to call RunQueued once, soon (a posted message, a queued
    // event). One wake carries everything queued until RunQueued begins, so it is asked again only
    // after that. It is called with this object's lock held, so whatever it posts to cannot go away
    // meanwhile, and never once closing has begun.
    explicit WindowThreadCalls(std::function<void()> wake);
    ~WindowThreadCalls();

    WindowThreadCalls(const WindowThreadCalls&) = delete;
    WindowThreadCalls& operator=(const WindowThreadCalls&) = delete;

    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

    // Runs `fn` on the window thread and returns its result; from another thread once closing, a
    // value-initialised result without running it. On the window thread, work posted before runs
    // first, so the call sees it.
    template <class F>
    auto Call(F&& fn) -> decltype(fn());

    // Runs `work` on the window thread after what was queued before it, without waiting; on the
    // window thread, at once (after the work posted before). From another thread, dropped once
    // closing.
    void Post(std::function<void()> work);

    // Window thread: runs what is queued, in order, one item at a time. An item that opens a modal
    // loop lets the items behind it run inside that loop, which handles the next wake.
    void RunQueued();

    // Begins closing: see the class. Any thread; later calls do nothing more.
    void BeginClosing();

    // Calls from other threads now waiting for the window thread.
    std::size_t WaitingCalls() const;

private:
    struct Waiting {
        bool finished = false;
        bool cancelled = false;
    };
    struct Item {
        std::function<void()> work;
        Waiting* waiting = nullptr;  // a call's state on its caller's stack; null for posted work
    };

    // Queues an item and, unless one is on its way, a wake; false once closing.
    bool Enqueue(Item item);
    // Waits for a queued call until it ran or was cancelled; true when it ran.
    bool AwaitCall(Waiting& waiting);
    // Window thread, outside queued work: runs the posted work queued so far.
    void RunPosted();
    void RunItem(Item& item);

    const std::thread::id windowThread_;
    const std::function<void()> wake_;

    mutable std::mutex mutex_;
    std::condition_variable callDone_;
    std::deque<Item> queue_;
    std::size_t waitingCalls_ = 0;
    bool wakePending_ = false;
    bool closing_ = false;
    // Window thread only: how deep it is inside queued work, where a call does not run what was
    // posted meanwhile (that would interleave two items).
    int runningDepth_ = 0;
};

template <class F>
auto WindowThreadCalls::Call(F&& fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (OnWindowThread()) {
        RunPosted();
        return fn();
    }
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    std::optional<Stored> result;
    Waiting waiting;
    // The item refers to this frame: it runs only while this thread waits for it here.
    Item item{[&] {
                  if constexpr (std::is_void_v<Result>) {
                      fn();
                      result.emplace(true);
                  } else {
                      result.emplace(fn());
                  }
              },
              &waiting};
    if (!Enqueue(std::move(item)) || !AwaitCall(waiting)) {
        return Result();
    }
    if constexpr (!std::is_void_v<Result>) {
        return result.has_value() ? std::move(*result) : Result();
    }
}

}  // namespace qj

#include "window/window_thread_calls.h"

namespace qj {

WindowThreadCalls::WindowThreadCalls(std::function<void()> wake)
    : windowThread_(std::this_thread::get_id()), wake_(std::move(wake)) {}

WindowThreadCalls::~WindowThreadCalls() {
    BeginClosing();
}

bool WindowThreadCalls::Enqueue(Item item) {
    std::lock_guard lock(mutex_);
    if (closing_) {
        return false;
    }
    if (item.waiting) {
        ++waitingCalls_;
    }
    queue_.push_back(std::move(item));
    if (!wakePending_) {
        wakePending_ = true;
        wake_();
    }
    return true;
}

bool WindowThreadCalls::AwaitCall(Waiting& waiting) {
    std::unique_lock lock(mutex_);
    callDone_.wait(lock, [&] { return waiting.finished || waiting.cancelled; });
    --waitingCalls_;
    return waiting.finished;
}

void WindowThreadCalls::Post(std::function<void()> work) {
    if (OnWindowThread()) {
        RunPosted();
        work();
        return;
    }
    static_cast<void>(Enqueue(Item{std::move(work), nullptr}));
}

void WindowThreadCalls::RunItem(Item& item) {
    ++runningDepth_;
    item.work();
    --runningDepth_;
    if (item.waiting) {
        std::lock_guard lock(mutex_);
        item.waiting->finished = true;
        callDone_.notify_all();
    }
}

void WindowThreadCalls::RunQueued() {
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            // Whatever is queued from here on is taken by this loop or by the wake it posts.
            wakePending_ = false;
            if (queue_.empty()) {
                return;
            }
            // Once out of the queue a call is no longer cancelled: its thread waits until it ran.
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        RunItem(item);
    }
}

void WindowThreadCalls::RunPosted() {
    if (runningDepth_ > 0) {
        return;
    }
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            // A call waiting in the queue stays there, in its place; what its thread posted before
            // it is ahead of it, and that thread posts nothing while it waits.
            auto posted = queue_.begin();
            while (posted != queue_.end() && posted->waiting) {
                ++posted;
            }
            if (posted == queue_.end()) {
                return;
            }
            item = std::move(*posted);
            queue_.erase(posted);
        }
        RunItem(item);
    }
}

void WindowThreadCalls::BeginClosing() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    for (Item& item : queue_) {
        if (item.waiting) {
            item.waiting->cancelled = true;
        }
    }
    queue_.clear();
    callDone_.notify_all();
}

std::size_t WindowThreadCalls::WaitingCalls() const {
    std::lock_guard lock(mutex_);
    return waitingCalls_;
}

}  // namespace qj

#pragma once

#include <atomic>
#include <memory>

namespace qj {

// Whether the work it was handed to should stop: a run, a query, a request. Any thread may look;
// the work looks between its steps, and its requests and waits end when it turns true. A token made
// without a source never asks to stop.
class StopToken {
public:
    StopToken() = default;

    bool StopRequested() const { return flag_ && flag_->load(); }

    // The flag itself, for what polls a flag (the HTTP layer's cancel, shared waits); never null.
    const std::atomic<bool>* Flag() const { return flag_ ? flag_.get() : &kNeverStops; }

private:
    friend class StopSource;
    explicit StopToken(std::shared_ptr<const std::atomic<bool>> flag) : flag_(std::move(flag)) {}

    static inline const std::atomic<bool> kNeverStops{false};
    std::shared_ptr<const std::atomic<bool>> flag_;
};

// Where a stop is asked for: one per run (or query), handed out as tokens. Asking once is for good.
class StopSource {
public:
    StopSource() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

    void RequestStop() { flag_->store(true); }
    bool StopRequested() const { return flag_->load(); }
    StopToken Token() const { return StopToken(flag_); }

    // The flag itself, for a signal handler (setting a lock-free atomic is all one may do there).
    std::atomic<bool>& Flag() { return *flag_; }

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

}  // namespace qj

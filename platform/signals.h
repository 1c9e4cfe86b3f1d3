#pragma once

// What the operating system tells the process out of band: interrupts, hang-ups of peers.

#include <atomic>

namespace qj {

// While an InterruptWatch lives, an interrupt (Ctrl+C: SIGINT) or a request to terminate (SIGTERM)
// no longer ends the process: it sets `stop` and is remembered. Afterwards both end the process
// again. One watch at a time.
class InterruptWatch {
public:
    explicit InterruptWatch(std::atomic<bool>& stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Ends the watch now (the destructor then does nothing more) and tells whether an interrupt or
    // a request to terminate arrived while it lasted.
    bool End();

private:
    bool watching_ = true;
};

// A peer that hangs up while a request is being written must fail that request, not end the
// program: a write to a closed connection then reports an error instead of raising a signal. A
// reaction someone else installed is left alone.
void IgnoreBrokenPipes();

}  // namespace qj

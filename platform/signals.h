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

    // Whether an interrupt or a request to terminate has arrived since the watch began.
    bool Interrupted() const;

private:
    bool watching_ = true;
};

// A peer that hangs up while a request is being written must fail that request, not end the
// program: a write to a closed connection then reports an error instead of raising a signal. A
// reaction someone else installed is left alone.
void IgnoreBrokenPipes();

// A write beyond the process's limit on file sizes (ulimit -f) must fail with an error the writer
// reports (EFBIG), not end the program without a word. A reaction someone else installed is left
// alone. Windows has no such limit.
void IgnoreFileSizeLimitSignal();

}  // namespace qj

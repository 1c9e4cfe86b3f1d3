#pragma once

#include <functional>

#include "text/types.h"

namespace qj {

// What a caller hands the clients of the services, so that they report and wait its way without
// knowing who it is (a window, the batch mode, a test).

// Where the messages of a client's run-log lines go (GBK, no time stamp: whoever shows them stamps
// them); an empty sink drops them.
using LogSink = std::function<void(const Text& message)>;

// How the caller waits for one exchange: runs `exchange` and returns when it has ended (the window
// runs it on a helper thread and keeps handling its events meanwhile); an empty one runs it on the
// calling thread.
using ExchangeWait = std::function<void(const std::function<void()>& exchange)>;

// Runs `exchange` the caller's way.
inline void WaitFor(const ExchangeWait& wait, const std::function<void()>& exchange) {
    if (wait) {
        wait(exchange);
    } else {
        exchange();
    }
}

}  // namespace qj

#pragma once

#include <chrono>
#include <optional>

namespace qj {

// The time-out value a request sets, in milliseconds: below 1 second (but not -1) 15000 ms, else
// the seconds times 1000, capped at the largest signed 32-bit count. -1 sets nothing (nullopt): the
// handle keeps what an earlier request set, or its defaults.
std::optional<int> TimeoutMilliseconds(int timeoutSeconds);

// What one transfer enforces. Sending and receiving are bounded by idleness only (no byte moved
// for idleMs), never by the total duration, so a long reply that keeps arriving is not cut.
struct TimeoutPolicy {
    long resolveAndConnectMs = 0;  // name resolution plus connection; 0: the library's own limit
    long connectMs = 0;            // from the first socket until the request can go out; 0: none
    long idleMs = 0;               // once connected: the longest stretch without a byte moved
};

// One value for resolution plus connection and for idleness; without a value the handle's
// defaults: resolution unlimited, 60 s to connect, 30 s of idleness.
TimeoutPolicy TimeoutPolicyFor(std::optional<int> timeoutMs);

// Through a proxy: the longest time connecting to it, opening the tunnel through it and the
// handshakes through that may take together, 30 s, or the request's own limit when that is shorter.
// A proxy that never answers the tunnel request costs no more than this.
long ProxySetUpMs(const TimeoutPolicy& policy);

// How often a transfer looks at its cancel flag when nothing else wakes it, and how long it waits
// for the network at most otherwise.
inline constexpr long kCancelPollMs = 50;
inline constexpr long kIdlePollMs = 1000;

// Milliseconds on the monotonic clock, on which the limits above are kept.
inline long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace qj

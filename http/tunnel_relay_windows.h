#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "text/types.h"

namespace qj {

// WinHttp opens a tunnel through a proxy only to an https server, and writes every line of the
// request into its CONNECT (a key in an Authorization line would reach the proxy). So WinHttp is
// given this relay on 127.0.0.1 as its proxy instead. For one connection the relay opens the
// tunnel through the real proxy itself, with only the Host line and the proxy's own lines, then
// passes the bytes through unchanged. A request WinHttp sends in absolute form (to an http server)
// goes through a tunnel as well, its request line rewritten to origin form.
class TunnelRelay {
public:
    // What happened on the way to the real proxy.
    struct Outcome {
        // No tunnel could be made: no connection to the proxy, or no answer to the tunnel request
        // within the set-up time, one that is no HTTP reply, or the connection closed instead.
        bool unreachable = false;
        int refusedStatus = 0;     // the proxy's status when it refused the tunnel
        std::vector<std::string> refusedLines;  // and its reply's header lines (status line first)
        std::string error;
    };

    // `proxyLines` are "Name: value" lines sent with the CONNECT request (UTF-8). Connecting to the
    // proxy and its answer to the tunnel request take at most `setUpMs` together; `onTunnelOpen` is
    // called (on the relay's thread) once the proxy has opened the tunnel.
    TunnelRelay(std::string proxyHost, int proxyPort, std::vector<std::string> proxyLines, long setUpMs,
                std::function<void()> onTunnelOpen);
    ~TunnelRelay();
    TunnelRelay(const TunnelRelay&) = delete;
    TunnelRelay& operator=(const TunnelRelay&) = delete;

    // The port the relay listens on; 0 when it could not listen.
    int port() const { return port_; }
    Outcome outcome();

private:
    void Serve();
    void Relay(std::uintptr_t client);
    bool Stopping() const { return stopping_.load(); }

    std::string proxyHost_;
    int proxyPort_;
    std::vector<std::string> proxyLines_;
    long setUpMs_;
    std::function<void()> onTunnelOpen_;
    std::uintptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    Outcome outcome_;
    std::thread thread_;
};

}  // namespace qj

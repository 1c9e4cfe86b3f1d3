#pragma once

// Servers on 127.0.0.1 that the HTTP tests start themselves: an in-process cpp-httplib server (plain
// or TLS with a certificate made on the spot), a raw socket server that records requests byte for
// byte, a listener that never completes a connection, and a tinyproxy process with basic auth.

#include <httplib.h>
#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qj::test {

// A port on 127.0.0.1 that nothing listens on at the moment.
int FreePort();

// cpp-httplib on a free port, running until destroyed. Route handlers are added before Start().
class LibServer {
public:
    explicit LibServer(bool tls = false);
    ~LibServer();
    httplib::Server& server() { return *server_; }
    void Start();
    int port() const { return port_; }
    std::string Url(const std::string& path) const;
    // Sleeps up to `ms` or until the server shuts down; true when it shuts down.
    bool Stall(int ms);

private:
    std::unique_ptr<httplib::Server> server_;
    bool tls_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

struct RawRequest {
    std::string head;  // request line and header lines, each ending in CR LF, blank line excluded
    std::string body;
    std::string RequestLine() const;
    std::vector<std::string> HeaderLines() const;
};

// Accepts connections on a free port and reads one request from each; records it, then lets the
// responder write whatever it likes to the socket before the connection is closed.
class RawServer {
public:
    using Responder = std::function<void(int socket, const RawRequest& request)>;
    explicit RawServer(Responder responder);
    ~RawServer();
    int port() const { return port_; }
    std::string Url(const std::string& path) const;
    std::vector<RawRequest> Requests();
    bool Stall(int ms);
    static void Send(int socket, const std::string& bytes);

private:
    void AcceptLoop();
    void Serve(int socket);

    Responder responder_;
    int listener_ = -1;
    int port_ = 0;
    std::thread acceptThread_;
    std::vector<std::thread> connections_;
    std::vector<RawRequest> requests_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

// A listening socket whose accept queue is full, so a new connection attempt gets no answer.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// tinyproxy with basic authentication on a free port.
class TinyProxy {
public:
    TinyProxy(const std::string& user, const std::string& password);
    ~TinyProxy();
    bool running() const { return pid_ > 0 && port_ > 0; }
    std::string Address() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace qj::test

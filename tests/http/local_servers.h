#pragma once

// Servers on 127.0.0.1 that the HTTP tests start themselves: an in-process cpp-httplib server (plain
// or TLS with a certificate made on the spot), a raw socket server that records requests byte for
// byte, a listener that never completes a connection, and a tinyproxy process with basic auth.
//
// On Windows there is no OpenSSL and no tinyproxy: the TLS server and the proxy are Linux programs
// on loopback that the test run starts beforehand and names in the file QJ_PEERS points to
// ("name value" lines: tls PORT, proxy HOST:PORT, proxy-user, proxy-password).

#ifdef _WIN32
#include <winsock2.h>
#endif
#include <httplib.h>
#ifdef _WIN32
#undef MessageBox  // windows.h, through httplib.h, would rename the windows' MessageBox
#endif
#include <sys/types.h>

#include <map>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qj::test {

#ifdef _WIN32
using SocketId = SOCKET;
#else
using SocketId = int;
#endif

// A port on 127.0.0.1 that nothing listens on at the moment (for a server about to be started on
// it; another test's server may be given it later).
int FreePort();

// A port on 127.0.0.1 that refuses every connection for as long as this object lives: bound and never
// listening, so no server of any test running beside this one can be given it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" and the path.
    std::string Url(const std::string& path = "") const;

private:
    SocketId socket_;
    int port_ = 0;
};

// The Linux peers of a Windows test run (see above); empty elsewhere or when none were started.
std::map<std::string, std::string> Peers();

// "https://127.0.0.1:PORT" and the path, on the TLS peer; empty when there is none.
std::string PeerTlsUrl(const std::string& path);

// Whether a TLS server can run inside the test process.
#ifdef _WIN32
inline constexpr bool kInProcessTls = false;
#else
inline constexpr bool kInProcessTls = true;
#endif

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
    using Responder = std::function<void(SocketId socket, const RawRequest& request)>;
    explicit RawServer(Responder responder);
    ~RawServer();
    int port() const { return port_; }
    std::string Url(const std::string& path) const;
    std::vector<RawRequest> Requests();
    bool Stall(int ms);
    // False when the peer is gone.
    static bool Send(SocketId socket, const std::string& bytes);

private:
    void AcceptLoop();
    void Serve(SocketId socket);

    Responder responder_;
    SocketId listener_;
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
    SocketId listener_;
    int port_ = 0;
    std::vector<SocketId> fillers_;
};

// tinyproxy with basic authentication on a free port (on Windows the peer, when its credentials are
// these).
class TinyProxy {
public:
    TinyProxy(const std::string& user, const std::string& password);
    ~TinyProxy();
    bool running() const { return !address_.empty(); }
    std::string Address() const;

private:
    std::string folder_;
    long pid_ = -1;
    std::string address_;
};

}  // namespace qj::test

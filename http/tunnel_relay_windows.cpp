#include "http/tunnel_relay_windows.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <optional>

#include "http/response_headers.h"
#include "http/timeout_policy.h"

namespace qj {

namespace {

constexpr int kPollMs = 100;
constexpr std::size_t kMaxHeadBytes = 64 * 1024;

SOCKET AsSocket(std::uintptr_t socket) {
    return static_cast<SOCKET>(socket);
}

void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

bool SendAll(SOCKET socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const int sent = send(socket, bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Reads until a blank line closes a head; what came behind it stays in `head` after `end`. Gives up
// at `deadline` (NowMs) when there is one.
enum class HeadRead { kRead, kClosed, kLate, kStopped };
HeadRead ReadHead(SOCKET socket, std::string& head, std::size_t& end, const std::atomic<bool>& stopping,
                  std::optional<long long> deadline = std::nullopt) {
    char buffer[4096];
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
        if (stopping.load()) {
            return HeadRead::kStopped;
        }
        if (head.size() > kMaxHeadBytes) {
            return HeadRead::kClosed;
        }
        if (deadline && NowMs() >= *deadline) {
            return HeadRead::kLate;
        }
        WSAPOLLFD waiting{socket, POLLRDNORM, 0};
        if (WSAPoll(&waiting, 1, kPollMs) != 1) {
            continue;
        }
        const int n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return HeadRead::kClosed;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    end += 4;
    return HeadRead::kRead;
}

// A connection to host:port, tried until `deadline` (NowMs) at most.
SOCKET ConnectTo(const std::string& host, int port, long long deadline, const std::atomic<bool>& stopping) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return INVALID_SOCKET;
    }
    SOCKET connected = INVALID_SOCKET;
    for (addrinfo* at = found; at && connected == INVALID_SOCKET; at = at->ai_next) {
        SOCKET candidate = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
        if (candidate == INVALID_SOCKET) {
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(candidate, FIONBIO, &nonBlocking);
        bool done = connect(candidate, at->ai_addr, static_cast<int>(at->ai_addrlen)) == 0;
        if (!done && WSAGetLastError() == WSAEWOULDBLOCK) {
            while (!stopping.load() && NowMs() < deadline) {
                WSAPOLLFD waiting{candidate, POLLWRNORM, 0};
                const int ready = WSAPoll(&waiting, 1, kPollMs);
                if (ready == 1) {
                    int error = 0;
                    int size = sizeof error;
                    done = (waiting.revents & POLLWRNORM) != 0 &&
                           getsockopt(candidate, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                           error == 0;
                    break;
                }
                if (ready < 0) {
                    break;
                }
            }
        }
        nonBlocking = 0;
        ioctlsocket(candidate, FIONBIO, &nonBlocking);
        if (done) {
            connected = candidate;
        } else {
            closesocket(candidate);
        }
    }
    freeaddrinfo(found);
    return connected;
}

// Passes bytes both ways until one side closes or the relay stops.
void Pump(SOCKET a, SOCKET b, const std::atomic<bool>& stopping) {
    char buffer[64 * 1024];
    while (!stopping.load()) {
        WSAPOLLFD waiting[2] = {{a, POLLRDNORM, 0}, {b, POLLRDNORM, 0}};
        const int ready = WSAPoll(waiting, 2, kPollMs);
        if (ready < 0) {
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (waiting[i].revents == 0) {
                continue;
            }
            const SOCKET from = i == 0 ? a : b;
            const SOCKET to = i == 0 ? b : a;
            const int n = recv(from, buffer, sizeof buffer, 0);
            if (n <= 0 || !SendAll(to, std::string_view(buffer, static_cast<std::size_t>(n)))) {
                return;
            }
        }
    }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && _strnicmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

TunnelRelay::TunnelRelay(std::string proxyHost, int proxyPort, std::vector<std::string> proxyLines, long setUpMs,
                         std::function<void()> onTunnelOpen)
    : proxyHost_(std::move(proxyHost)),
      proxyPort_(proxyPort),
      proxyLines_(std::move(proxyLines)),
      setUpMs_(setUpMs),
      onTunnelOpen_(std::move(onTunnelOpen)) {
    StartWinsock();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener_ = static_cast<std::uintptr_t>(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 8) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TunnelRelay::~TunnelRelay() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (AsSocket(listener_) != INVALID_SOCKET) {
        closesocket(AsSocket(listener_));
    }
}

TunnelRelay::Outcome TunnelRelay::outcome() {
    std::lock_guard lock(mutex_);
    return outcome_;
}

void TunnelRelay::Serve() {
    std::vector<std::thread> connections;
    while (!Stopping()) {
        WSAPOLLFD waiting{AsSocket(listener_), POLLRDNORM, 0};
        if (WSAPoll(&waiting, 1, kPollMs) != 1) {
            continue;
        }
        const SOCKET client = accept(AsSocket(listener_), nullptr, nullptr);
        if (client != INVALID_SOCKET) {
            connections.emplace_back([this, client] { Relay(static_cast<std::uintptr_t>(client)); });
        }
    }
    for (std::thread& connection : connections) {
        connection.join();
    }
}

void TunnelRelay::Relay(std::uintptr_t clientId) {
    const SOCKET client = AsSocket(clientId);
    const auto finish = [&](SOCKET proxy) {
        if (proxy != INVALID_SOCKET) {
            closesocket(proxy);
        }
        shutdown(client, SD_BOTH);
        closesocket(client);
    };
    std::string head;
    std::size_t headEnd = 0;
    if (ReadHead(client, head, headEnd, stopping_) != HeadRead::kRead) {
        finish(INVALID_SOCKET);
        return;
    }
    // "CONNECT host:port HTTP/1.1", or "VERB http://host[:port]/path HTTP/1.1".
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t space = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (space == std::string::npos || lastSpace <= space) {
        finish(INVALID_SOCKET);
        return;
    }
    const std::string verb = line.substr(0, space);
    const std::string target = line.substr(space + 1, lastSpace - space - 1);
    const bool connectRequest = verb == "CONNECT";
    std::string authority = target;
    std::string originForm;
    if (!connectRequest) {
        if (!StartsWithNoCase(target, "http://")) {
            finish(INVALID_SOCKET);
            return;
        }
        const std::size_t pathAt = target.find('/', 7);
        authority = target.substr(7, pathAt == std::string::npos ? std::string::npos : pathAt - 7);
        originForm = pathAt == std::string::npos ? "/" : target.substr(pathAt);
        if (authority.find(':') == std::string::npos || authority.back() == ']') {
            authority += ":80";
        }
    }

    const long long deadline = NowMs() + setUpMs_;
    const SOCKET proxy = ConnectTo(proxyHost_, proxyPort_, deadline, stopping_);
    if (proxy == INVALID_SOCKET) {
        std::lock_guard lock(mutex_);
        outcome_.unreachable = !Stopping();
        outcome_.error = NowMs() >= deadline ? "connecting to the proxy timed out after " + std::to_string(setUpMs_) + " ms"
                                             : std::string("could not connect to the proxy");
        finish(INVALID_SOCKET);
        return;
    }
    std::string connect = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    for (const std::string& proxyLine : proxyLines_) {
        connect += proxyLine + "\r\n";
    }
    connect += "\r\n";
    std::string reply;
    std::size_t replyEnd = 0;
    const HeadRead read = SendAll(proxy, connect) ? ReadHead(proxy, reply, replyEnd, stopping_, deadline)
                                                  : HeadRead::kClosed;
    const int status = read == HeadRead::kRead && reply.size() > 12 && reply.starts_with("HTTP/")
                           ? std::atoi(reply.c_str() + reply.find(' ') + 1)
                           : 0;
    if (read != HeadRead::kRead || status <= 0) {
        std::lock_guard lock(mutex_);
        outcome_.unreachable = read != HeadRead::kStopped;
        outcome_.error = read == HeadRead::kLate ? "the proxy did not answer the tunnel request within " +
                                                       std::to_string(setUpMs_) + " ms"
                         : read == HeadRead::kRead ? std::string("the proxy's answer to the tunnel request is no HTTP reply")
                                                   : std::string("the proxy closed the connection instead of opening the tunnel");
        finish(proxy);
        return;
    }
    if (status < 200 || status >= 300) {
        std::lock_guard lock(mutex_);
        outcome_.refusedStatus = status;
        outcome_.error = "the proxy refused the tunnel (HTTP " + std::to_string(status) + ")";
        outcome_.refusedLines.clear();
        for (std::size_t at = 0; at + 2 < replyEnd;) {
            const std::size_t end = reply.find("\r\n", at);
            outcome_.refusedLines.push_back(reply.substr(at, end - at));
            at = end + 2;
        }
        finish(proxy);
        return;
    }
    if (onTunnelOpen_) {
        onTunnelOpen_();
    }
    // Bytes the proxy sent behind its reply already belong to the server.
    const std::string early = reply.substr(replyEnd);
    bool ready = true;
    if (connectRequest) {
        ready = SendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n") && SendAll(client, early) &&
                SendAll(proxy, std::string_view(head).substr(headEnd));
    } else {
        std::string rewritten = verb + " " + originForm + line.substr(lastSpace) + head.substr(lineEnd);
        ready = SendAll(client, early) && SendAll(proxy, rewritten);
    }
    if (ready) {
        Pump(client, proxy, stopping_);
    }
    finish(proxy);
}

}  // namespace qj

#include "local_servers.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qj::test {

namespace {

#ifdef _WIN32
constexpr SocketId kNoSocket = INVALID_SOCKET;
using AddressLength = int;
constexpr int kSendFlags = 0;
constexpr int kShutBoth = SD_BOTH;

void CloseSocket(SocketId socket) {
    closesocket(socket);
}

int PollOne(SocketId socket, int ms) {
    WSAPOLLFD waiting{socket, POLLIN, 0};
    return WSAPoll(&waiting, 1, ms);
}

// Winsock is started once for the process and never stopped: servers come and go in any order.
void PrepareSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

bool CaseInsensitivePrefix(const std::string& line, const char* prefix, std::size_t length) {
    return _strnicmp(line.c_str(), prefix, length) == 0;
}
#else
constexpr SocketId kNoSocket = -1;
using AddressLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;

void CloseSocket(SocketId socket) {
    close(socket);
}

int PollOne(SocketId socket, int ms) {
    pollfd waiting{socket, POLLIN, 0};
    return poll(&waiting, 1, ms);
}

// A peer that hangs up must not end the test process.
void PrepareSockets() {
    signal(SIGPIPE, SIG_IGN);
}

bool CaseInsensitivePrefix(const std::string& line, const char* prefix, std::size_t length) {
    return strncasecmp(line.c_str(), prefix, length) == 0;
}
#endif

SocketId ListenOn(int port, int backlog, int* boundPort) {
    PrepareSockets();
    const SocketId fd = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    AddressLength length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(fd);
        return kNoSocket;
    }
    *boundPort = ntohs(address.sin_port);
    return fd;
}

bool CanConnect(int port) {
    const SocketId fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    CloseSocket(fd);
    return connected;
}

#ifndef _WIN32

// A fresh key pair and a self-signed certificate for "localhost", valid for an hour.
std::pair<X509*, EVP_PKEY*> MakeCertificate() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    return {cert, key};
}
#endif

}  // namespace

int FreePort() {
    int port = 0;
    CloseSocket(ListenOn(0, 1, &port));
    return port;
}

RefusingPort::RefusingPort() {
    PrepareSockets();
    // No SO_REUSEADDR: no other socket may share the port while this one holds it.
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    AddressLength length = sizeof address;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
}

RefusingPort::~RefusingPort() {
    CloseSocket(socket_);
}

std::string RefusingPort::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::map<std::string, std::string> Peers() {
    std::map<std::string, std::string> peers;
    const char* file = std::getenv("QJ_PEERS");
    if (!file) {
        return peers;
    }
    std::ifstream in(file);
    for (std::string name, value; in >> name >> value;) {
        peers[name] = value;
    }
    return peers;
}

std::string PeerTlsUrl(const std::string& path) {
    const auto peers = Peers();
    const auto tls = peers.find("tls");
    return tls == peers.end() ? std::string() : "https://127.0.0.1:" + tls->second + path;
}

LibServer::LibServer(bool tls) : tls_(tls) {
    PrepareSockets();
#ifdef _WIN32
    // No TLS library for MinGW here: an https test on Windows talks to the Linux peer instead.
    tls_ = false;
    server_ = std::make_unique<httplib::Server>();
#else
    if (tls) {
        auto [cert, key] = MakeCertificate();
        server_ = std::make_unique<httplib::SSLServer>(cert, key);
        X509_free(cert);
        EVP_PKEY_free(key);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
#endif
    server_->set_keep_alive_max_count(100000);
#ifdef _WIN32
    // WinHttp under Wine keeps idle connections in a pool of the process past the end of a
    // request; the server need not wait long for them when it stops.
    server_->set_keep_alive_timeout(1);
#endif
    server_->set_tcp_nodelay(true);
}

LibServer::~LibServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LibServer::Start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string LibServer::Url(const std::string& path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

bool LibServer::Stall(int ms) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

std::string RawRequest::RequestLine() const {
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RawRequest::HeaderLines() const {
    std::vector<std::string> lines;
    std::size_t at = head.find("\r\n") + 2;
    while (at < head.size()) {
        const std::size_t end = head.find("\r\n", at);
        lines.push_back(head.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

RawServer::RawServer(Responder responder) : responder_(std::move(responder)) {
    listener_ = ListenOn(0, 16, &port_);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    acceptThread_.join();
    for (std::thread& connection : connections_) {
        connection.join();
    }
    CloseSocket(listener_);
}

std::string RawServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RawRequest> RawServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool RawServer::Stall(int ms) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool RawServer::Send(SocketId socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), kSendFlags);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void RawServer::AcceptLoop() {
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        if (PollOne(listener_, 50) == 1) {
            const SocketId socket = accept(listener_, nullptr, nullptr);
            if (socket != kNoSocket) {
                connections_.emplace_back([this, socket] { Serve(socket); });
            }
        }
    }
}

void RawServer::Serve(SocketId socket) {
    RawRequest request;
    std::string received;
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = std::string::npos;
    char buffer[65536];
    while (wanted == std::string::npos || received.size() < wanted) {
        if (PollOne(socket, 50) != 1) {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                CloseSocket(socket);
                return;
            }
            continue;
        }
        const auto n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            CloseSocket(socket);
            return;
        }
        received.append(buffer, static_cast<std::size_t>(n));
        if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
            request.head = received.substr(0, headEnd + 2);
            std::size_t length = 0;
            for (const std::string& line : request.HeaderLines()) {
                if (CaseInsensitivePrefix(line, "Content-Length:", 15)) {
                    length = std::stoul(line.substr(15));
                }
            }
            wanted = headEnd + 4 + length;
        }
    }
    request.body = received.substr(headEnd + 4);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    responder_(socket, request);
    shutdown(socket, kShutBoth);
    CloseSocket(socket);
}

UnansweredListener::UnansweredListener() {
    listener_ = ListenOn(0, 0, &port_);
    // Fill the accept queue; further handshakes are then dropped by the kernel.
    for (int k = 0; k < 2; ++k) {
        const SocketId fd = socket(AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
        u_long nonBlocking = 1;
        ioctlsocket(fd, FIONBIO, &nonBlocking);
#else
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
#endif
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port_));
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

UnansweredListener::~UnansweredListener() {
    for (const SocketId fd : fillers_) {
        CloseSocket(fd);
    }
    CloseSocket(listener_);
}

#ifdef _WIN32
TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    const auto peers = Peers();
    const auto has = [&](const char* name, const std::string& value) {
        const auto it = peers.find(name);
        return it != peers.end() && it->second == value;
    };
    if (peers.count("proxy") && has("proxy-user", user) && has("proxy-password", password)) {
        address_ = peers.at("proxy");
    }
}

TinyProxy::~TinyProxy() = default;
#else
TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    char folderTemplate[] = "/tmp/qj-tinyproxy-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        return;
    }
    folder_ = folderTemplate;
    const int port = FreePort();
    const std::string config = folder_ + "/tinyproxy.conf";
    std::ofstream(config) << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                          << "Allow 127.0.0.1\nLogLevel Critical\nBasicAuth " << user << " " << password << "\n";
    const char* argv[] = {"tinyproxy", "-d", "-c", config.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "tinyproxy", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return;
    }
    pid_ = pid;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (CanConnect(port)) {
            address_ = "127.0.0.1:" + std::to_string(port);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

TinyProxy::~TinyProxy() {
    if (pid_ > 0) {
        kill(static_cast<pid_t>(pid_), SIGTERM);
        waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    }
    if (!folder_.empty()) {
        std::filesystem::remove_all(folder_);
    }
}

#endif

std::string TinyProxy::Address() const {
    return address_;
}

}  // namespace qj::test

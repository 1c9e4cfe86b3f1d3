#pragma once

// A chat-completion service on 127.0.0.1 that tells its keys apart. Each key may have a hard budget
// of requests and tokens per fixed window (beyond it: 429 with the rate-limit headers, Retry-After
// and retry-after-ms), answer with an error status, or never answer. Every reply carries the
// rate-limit headers of its key. Used by the tests and by the benchmark.

#ifdef _WIN32
#include <winsock2.h>
#endif
#include <httplib.h>
#ifdef _WIN32
#undef MessageBox  // windows.h, through httplib.h, would rename the windows' MessageBox
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qj::testing {

class LocalChatService {
public:
    using Clock = std::chrono::steady_clock;

    struct KeyPlan {
        int requestsPerWindow = 0;      // 0: no budget of requests
        long long tokensPerWindow = 0;  // 0: no budget of tokens
        int failStatus = 0;             // answer this status (with errorBody) instead of a text
        int failFirst = -1;             // with failStatus: only the first n requests fail; -1: all
        std::string errorBody = R"({"error":{"message":"service trouble"}})";
        bool stall = false;  // never answer (until the service ends)
        std::vector<std::pair<std::string, std::string>> headers{};  // added to every reply
    };

    struct Counts {
        int requests = 0;
        int answered = 0;  // with a text
        int rateLimited = 0;
        int failed = 0;
    };

    explicit LocalChatService(std::chrono::milliseconds window = std::chrono::milliseconds(1000),
                              std::chrono::milliseconds latency = std::chrono::milliseconds(0), int tokensPerReply = 52)
        : window_(window), latency_(latency), tokensPerReply_(tokensPerReply), start_(Clock::now()) {
        server_.new_task_queue = [] { return new httplib::ThreadPool(80); };
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(100000);
        server_.Post("/v1/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            Answer(request, response);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        DeepenBacklog(port_);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~LocalChatService() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        server_.stop();
        thread_.join();
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }

    // What a key (the bearer token; "" for requests without one) meets from now on.
    void Plan(const std::string& key, KeyPlan plan) {
        std::lock_guard lock(mutex_);
        keys_[key].plan = plan;
    }

    Counts Of(const std::string& key) {
        std::lock_guard lock(mutex_);
        return keys_[key].counts;
    }

private:
    struct Key {
        KeyPlan plan;
        Counts counts;
        long long window = -1;  // the number of the window the figures below belong to
        int requests = 0;
        long long tokens = 0;
    };

    // cpp-httplib listens with a backlog of 5: a burst of new connections beyond it loses its SYNs
    // and waits a second for their retry, which no real service does to a client. Debian's library
    // is compiled with that figure, so the queue is deepened afterwards here; the Windows build
    // compiles the header with a deep queue instead (tests/http/CMakeLists.txt).
    static void DeepenBacklog([[maybe_unused]] int port) {
#ifndef _WIN32
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::atoi(entry.path().filename().c_str());
            sockaddr_in address{};
            socklen_t length = sizeof address;
            int listening = 0;
            socklen_t size = sizeof listening;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
                ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening) {
                ::listen(fd, 1024);
            }
        }
#endif
    }

    long long WindowAt(Clock::time_point now) const { return (now - start_) / window_; }

    // The key's figures for the window of `now`.
    void Roll(Key& key, Clock::time_point now) {
        if (key.window != WindowAt(now)) {
            key.window = WindowAt(now);
            key.requests = 0;
            key.tokens = 0;
        }
    }

    void SetLimitHeaders(const Key& key, Clock::time_point now, httplib::Response& response) {
        const auto windowEnd = start_ + window_ * (WindowAt(now) + 1);
        const long long resetMs = std::chrono::ceil<std::chrono::milliseconds>(windowEnd - now).count();
        const KeyPlan& plan = key.plan;
        if (plan.requestsPerWindow > 0) {
            response.set_header("x-ratelimit-limit-requests", std::to_string(plan.requestsPerWindow));
            response.set_header("x-ratelimit-remaining-requests",
                                std::to_string(std::max(0, plan.requestsPerWindow - key.requests)));
            response.set_header("x-ratelimit-reset-requests", std::to_string(resetMs) + "ms");
        }
        if (plan.tokensPerWindow > 0) {
            response.set_header("x-ratelimit-limit-tokens", std::to_string(plan.tokensPerWindow));
            response.set_header("x-ratelimit-remaining-tokens",
                                std::to_string(std::max(0LL, plan.tokensPerWindow - key.tokens)));
            response.set_header("x-ratelimit-reset-tokens", std::to_string(resetMs) + "ms");
        }
    }

    void Answer(const httplib::Request& request, httplib::Response& response) {
        std::string key = request.get_header_value("Authorization");
        if (key.starts_with("Bearer ")) {
            key.erase(0, 7);
        }
        std::unique_lock lock(mutex_);
        Key& state = keys_[key];
        const KeyPlan plan = state.plan;
        const int number = ++state.counts.requests;
        if (plan.stall) {
            wake_.wait(lock, [this] { return stopping_; });
            return;
        }
        Clock::time_point now = Clock::now();
        Roll(state, now);
        const bool overBudget = (plan.requestsPerWindow > 0 && state.requests >= plan.requestsPerWindow) ||
                                (plan.tokensPerWindow > 0 && state.tokens + tokensPerReply_ > plan.tokensPerWindow);
        for (const auto& [name, value] : plan.headers) {
            response.set_header(name, value);
        }
        if (overBudget) {
            ++state.counts.rateLimited;
            SetLimitHeaders(state, now, response);
            const auto wait = start_ + window_ * (WindowAt(now) + 1) - now;
            response.set_header("retry-after-ms",
                                std::to_string(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
            response.set_header("Retry-After", std::to_string(std::chrono::ceil<std::chrono::seconds>(wait).count()));
            response.status = 429;
            response.set_content(R"({"error":{"message":"Rate limit reached","type":"requests"}})", "application/json");
            return;
        }
        ++state.requests;
        state.tokens += tokensPerReply_;
        if (latency_.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(latency_);
            lock.lock();
        }
        // The figures as they stand when the reply goes out.
        now = Clock::now();
        Key& after = keys_[key];
        Roll(after, now);
        SetLimitHeaders(after, now, response);
        if (plan.failStatus != 0 && (plan.failFirst < 0 || number <= plan.failFirst)) {
            ++after.counts.failed;
            response.status = plan.failStatus;
            response.set_content(plan.errorBody, "application/json");
            return;
        }
        ++after.counts.answered;
        response.set_content(Stream(), "text/event-stream");
    }

    std::string Stream() const {
        // "泡脚的好处。" five times, then the usage and the end mark.
        std::string reply;
        for (int i = 0; i < 5; ++i) {
            reply += R"(data: {"choices":[{"index":0,"delta":{"content":")"
                     "\xe6\xb3\xa1\xe8\x84\x9a\xe7\x9a\x84\xe5\xa5\xbd\xe5\xa4\x84\xe3\x80\x82"
                     R"("},"finish_reason":null}]})"
                     "\n\n";
        }
        return reply + R"(data: {"choices":[{"index":0,"delta":{},"finish_reason":"stop"}],"usage":{)" +
               R"("prompt_tokens":12,"completion_tokens":)" + std::to_string(tokensPerReply_ - 12) +
               R"(,"total_tokens":)" + std::to_string(tokensPerReply_) + "}}\n\ndata: [DONE]\n\n";
    }

    const std::chrono::milliseconds window_;
    const std::chrono::milliseconds latency_;
    const int tokensPerReply_;
    const Clock::time_point start_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<std::string, Key> keys_;
};

}  // namespace qj::testing

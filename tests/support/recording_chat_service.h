#pragma once

// A chat-completion service on 127.0.0.1 that records the prompts it receives and answers each by
// a function of its user message, streamed as the services do; it also serves pages (a site's
// sitemap and pages) and can hold requests back until the test lets them go or the service ends.

#ifdef _WIN32
#include <winsock2.h>
#endif
#include <httplib.h>
#ifdef _WIN32
#undef MessageBox  // windows.h, through httplib.h, would rename the windows' MessageBox
#endif

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace qj::testing {

class RecordingChatService {
public:
    // The reply (UTF-8) to a user message (UTF-8).
    using Answer = std::function<std::string(const std::string& userMessage)>;

    struct Prompt {
        std::string system;  // UTF-8; empty when none was sent
        std::string user;
    };

    explicit RecordingChatService(Answer answer) : answer_(std::move(answer)) {
        server_.Post("/v1/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            Reply(request, response);
        });
        server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            const auto page = pages_.find(request.path);
            if (page == pages_.end()) {
                response.status = 404;
                return;
            }
            response.set_content(page->second.first, page->second.second);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~RecordingChatService() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        server_.stop();
        thread_.join();
    }

    std::string Base() const { return Url("/v1"); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // A page the service serves from now on.
    void Serve(const std::string& path, std::string body, std::string contentType = "text/html; charset=utf-8") {
        std::lock_guard lock(mutex_);
        pages_[path] = {std::move(body), std::move(contentType)};
    }

    std::vector<Prompt> Prompts() {
        std::lock_guard lock(mutex_);
        return prompts_;
    }

    // From now on, requests whose user message holds `marker` wait (recorded already) until
    // Release or the end of the service.
    void Hold(const std::string& marker) {
        std::lock_guard lock(mutex_);
        holdMarker_ = marker;
    }
    // Waits until `count` requests are held; false after `limit` (a test that fails, not a pace).
    bool WaitUntilHeld(int count, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return held_ >= count; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        holdMarker_.clear();
        changed_.notify_all();
    }

private:
    void Reply(const httplib::Request& request, httplib::Response& response) {
        Prompt prompt;
        const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_object() && body.contains("messages")) {
            for (const auto& message : body["messages"]) {
                (message.value("role", "") == "system" ? prompt.system : prompt.user) = message.value("content", "");
            }
        }
        {
            std::unique_lock lock(mutex_);
            prompts_.push_back(prompt);
            if (!holdMarker_.empty() && prompt.user.find(holdMarker_) != std::string::npos) {
                ++held_;
                changed_.notify_all();
                changed_.wait(lock, [&] { return stopping_ || holdMarker_.empty(); });
                if (stopping_) {
                    return;
                }
            }
        }
        const std::string text = answer_(prompt.user);
        std::string stream;
        // In pieces of a few characters, as a model writes.
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = std::min(text.size(), at + 12);
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
                ++end;
            }
            const nlohmann::json chunk = {{"choices", {{{"index", 0}, {"delta", {{"content", text.substr(at, end - at)}}}}}}};
            stream += "data: " + chunk.dump() + "\n\n";
            at = end;
        }
        stream += R"(data: {"choices":[{"index":0,"delta":{},"finish_reason":"stop"}]})"
                  "\n\ndata: [DONE]\n\n";
        response.set_content(stream, "text/event-stream");
    }

    const Answer answer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Prompt> prompts_;
    std::map<std::string, std::pair<std::string, std::string>> pages_;
    std::string holdMarker_;
    int held_ = 0;
    bool stopping_ = false;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace qj::testing

#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "local_servers.h"

namespace qj::testing {

// A maker's web site on 127.0.0.1 that publishes the two notice files. Each file answers with the
// status and body set for it (bytes as they are), after an optional delay; requests are counted.
class NoticeSite {
public:
    struct Answer {
        int status = 200;
        std::string body;
        int delayMs = 0;
    };

    NoticeSite(Answer adverts, Answer version) : adverts_(std::move(adverts)), version_(std::move(version)) {
        server_.server().Get("/zhanzhang/guanggao.txt", [this](const httplib::Request&, httplib::Response& response) {
            ++advertHits_;
            Serve(adverts_, response);
        });
        server_.server().Get("/zhanzhang/version.txt", [this](const httplib::Request&, httplib::Response& response) {
            ++versionHits_;
            Serve(version_, response);
        });
        server_.Start();
    }

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
    int AdvertHits() const { return advertHits_.load(); }
    int VersionHits() const { return versionHits_.load(); }
    void SetAdverts(Answer answer) {
        std::lock_guard lock(mutex_);
        adverts_ = std::move(answer);
    }
    void SetVersion(Answer answer) {
        std::lock_guard lock(mutex_);
        version_ = std::move(answer);
    }

private:
    void Serve(const Answer& source, httplib::Response& response) {
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            answer = source;
        }
        if (answer.delayMs > 0 && server_.Stall(answer.delayMs)) {
            return;
        }
        response.status = answer.status;
        response.set_content(answer.body, "text/plain");
    }

    std::mutex mutex_;
    Answer adverts_;
    Answer version_;
    std::atomic<int> advertHits_{0};
    std::atomic<int> versionHits_{0};
    test::LibServer server_;  // last: stopped before the answers its handlers read are gone
};

}  // namespace qj::testing

#pragma once

// A program folder and a local completion service for tests of the generation job: the
// deployment points interfaces one and two at an in-process server whose answer each test chooses.

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "local_servers.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "settings/deployment.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "temporary_home.h"

namespace qj::testing {

struct SeenRequest {
    std::string path;
    std::string body;  // as it arrived (UTF-8)
    httplib::Headers headers;
};

class LocalCompletionService {
public:
    using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;

    LocalCompletionService() {
        auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            Answer answer;
            {
                std::lock_guard lock(mutex_);
                seen_.push_back({request.path, request.body, request.headers});
                answer = answer_;
            }
            if (answer) {
                answer(request, response);
            }
        };
        server_.server().Post("/v1/completions", handler);
        server_.server().Post("/v1/engines/text-davinci-003-playground/completions", handler);
        server_.Start();
    }

    // Points the deployment of the program folder at this server (配置.ini, section 部署) and
    // returns it as start-up reads it.
    Deployment Deploy() const {
        const Text ini = ProgramPath(kSettingsFileTail);
        if (!WriteIniValue(ini, kDeploymentSection, "OpenAI", Origin())) {
            throw std::runtime_error("the test deployment cannot be written");
        }
        return ReadDeployment(ini);
    }

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }

    void SetAnswer(Answer answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }

    std::vector<SeenRequest> Seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    // Waits up to `ms` or until the server shuts down.
    bool Stall(int ms) { return server_.Stall(ms); }

private:
    test::LibServer server_;
    std::mutex mutex_;
    Answer answer_;
    std::vector<SeenRequest> seen_;
};

// Interface one's reply: one JSON object with the text (JSON-escaped, UTF-8) in its first choice.
inline std::string InterfaceOneReply(const std::string& jsonText) {
    return R"({"id":"cmpl-1","object":"text_completion","created":1,"model":"text-davinci-003",)"
           R"("choices":[{"text":")" +
           jsonText + R"(","index":0,"logprobs":null,"finish_reason":"stop"}]})";
}

// Interface two's reply: one event per piece, then the end mark.
inline std::string InterfaceTwoReply(const std::vector<std::string>& pieces) {
    std::string reply;
    for (const std::string& piece : pieces) {
        reply += R"(data: {"id":"cmpl-2","object":"text_completion","created":1,"choices":[{"text": ")" + piece +
                 R"(","index":0,"logprobs":null,"finish_reason":null}],"model":"text-davinci-003"})"
                 "\n\n";
    }
    return reply + "data: [DONE]\n\n";
}

}  // namespace qj::testing

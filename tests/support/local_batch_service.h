#pragma once

// A chat service on 127.0.0.1 with the files and batches interface: uploads (multipart), batches
// that step through a scripted sequence of statuses one poll at a time, output and error files
// written in an order of their own, cancelling, the list of batches with their metadata, and
// direct (streamed) chat completions. It checks every input file as a strict service would, and it
// sums the tokens it reports, so that a test can hold the program's accounts against it.

#ifdef _WIN32
#include <winsock2.h>
#endif
#include <httplib.h>
#ifdef _WIN32
#undef MessageBox
#endif

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qj::testing {

class LocalBatchService {
public:
    using Json = nlohmann::json;

    // How the batches created from now on behave.
    struct Plan {
        // One status per poll; the last one is where the batch ends.
        std::vector<std::string> statuses{"validating", "in_progress", "finalizing", "completed"};
        int answered = -1;  // lines that get a reply (the rest get an error line); -1: every line
        std::string unansweredCode = "batch_expired";
        std::set<std::string> refused{};  // user messages answered with a 400 error line
        bool reversed = true;             // results in the opposite order of the input
        bool noErrorFile = false;         // unanswered lines appear in no file at all
    };

    struct Usage {
        long long prompt = 0;
        long long completion = 0;
    };

    LocalBatchService() {
        server_.Post("/v1/files", [this](const httplib::Request& q, httplib::Response& r) { Upload(q, r); });
        server_.Get(R"(/v1/files/([^/]+)/content)", [this](const httplib::Request& q, httplib::Response& r) {
            std::lock_guard lock(mutex_);
            const auto file = files_.find(q.matches[1]);
            file == files_.end() ? Error(r, 404, "No such file") : r.set_content(file->second, "application/jsonl");
        });
        server_.Post("/v1/batches", [this](const httplib::Request& q, httplib::Response& r) { Create(q, r); });
        server_.Get("/v1/batches", [this](const httplib::Request& q, httplib::Response& r) { List(q, r); });
        server_.Get(R"(/v1/batches/([^/]+))",
                    [this](const httplib::Request& q, httplib::Response& r) { Poll(q.matches[1], r); });
        server_.Post(R"(/v1/batches/([^/]+)/cancel)", [this](const httplib::Request& q, httplib::Response& r) {
            std::lock_guard lock(mutex_);
            Batch* batch = Find(q.matches[1]);
            if (batch == nullptr) {
                return Error(r, 404, "No such batch");
            }
            if (!Ended(*batch)) {
                batch->statuses = {batch->statuses[batch->step], "cancelling", "cancelled"};
                batch->step = 1;
            }
            r.set_content(Describe(*batch).dump(), "application/json");
        });
        server_.Post("/v1/chat/completions", [this](const httplib::Request& q, httplib::Response& r) { Direct(q, r); });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~LocalBatchService() {
        server_.stop();
        thread_.join();
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }

    void SetPlan(Plan plan) {
        std::lock_guard lock(mutex_);
        plan_ = std::move(plan);
    }
    // Every request to a path that starts with `prefix` is answered with `status` from now on
    // (0: no longer).
    void Refuse(const std::string& prefix, int status) {
        std::lock_guard lock(mutex_);
        refusals_[prefix] = status;
    }
    // Direct replies tell their usage (the default) or do not.
    void TellUsage(bool tell) {
        std::lock_guard lock(mutex_);
        tellUsage_ = tell;
    }

    // The article the service writes for a user message (UTF-8).
    static std::string ArticleFor(const std::string& message) {
        return Utf8(u8"文章：") + message + Utf8(u8"。\n第二段。");
    }

    // The user messages of every batch created, in the order the batches were created.
    std::vector<std::vector<std::string>> Submitted() {
        std::lock_guard lock(mutex_);
        std::vector<std::vector<std::string>> submitted;
        for (const Batch& batch : batches_) {
            std::vector<std::string> messages;
            for (const Line& line : batch.lines) {
                messages.push_back(line.message);
            }
            submitted.push_back(messages);
        }
        return submitted;
    }
    std::vector<std::string> DirectMessages() {
        std::lock_guard lock(mutex_);
        return direct_;
    }
    Usage UsageSum() {
        std::lock_guard lock(mutex_);
        return usage_;
    }
    int Polls() {
        std::lock_guard lock(mutex_);
        return polls_;
    }
    std::vector<Json> Metadata() {
        std::lock_guard lock(mutex_);
        std::vector<Json> all;
        for (const Batch& batch : batches_) {
            all.push_back(batch.metadata);
        }
        return all;
    }

private:
    // Narrow literals of the tests are GBK; the wire is UTF-8.
    static std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

    struct Line {
        std::string customId;
        std::string message;
    };
    struct Batch {
        std::string id;
        std::string inputFileId;
        Json metadata;
        std::vector<Line> lines;
        std::vector<std::string> statuses;
        std::size_t step = 0;
        Plan plan;
        std::string outputFileId;
        std::string errorFileId;
        long long completed = 0;
        long long failed = 0;
        long long createdAt = 0;
    };

    static void Error(httplib::Response& response, int status, const std::string& message) {
        response.status = status;
        response.set_content(Json{{"error", {{"message", message}}}}.dump(), "application/json");
    }

    static long long CodePoints(const std::string& utf8) {
        long long count = 0;
        for (const char c : utf8) {
            count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
        }
        return count;
    }

    // The user message of a request body; empty when there is none.
    static std::string MessageOf(const Json& body) {
        if (body.is_object() && body.contains("messages") && body["messages"].is_array()) {
            for (const Json& message : body["messages"]) {
                if (message.value("role", "") == "user" && message.contains("content") &&
                    message["content"].is_string()) {
                    return message["content"].get<std::string>();
                }
            }
        }
        return {};
    }

    // The reply to a message, with the usage it reports counted.
    Json Completion(const std::string& message) {
        const std::string article = ArticleFor(message);
        const Usage usage{CodePoints(message) + 9, CodePoints(article)};
        usage_.prompt += usage.prompt;
        usage_.completion += usage.completion;
        return {
            {"id", "chatcmpl-" + std::to_string(++ids_)},
            {"object", "chat.completion"},
            {"choices",
             {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", article}}}, {"finish_reason", "stop"}}}},
            {"usage",
             {{"prompt_tokens", usage.prompt},
              {"completion_tokens", usage.completion},
              {"total_tokens", usage.prompt + usage.completion}}}};
    }

    bool Refused(const httplib::Request& request, httplib::Response& response) {
        for (const auto& [prefix, status] : refusals_) {
            if (status != 0 && request.path.starts_with(prefix)) {
                Error(response, status, "refused by the test");
                return true;
            }
        }
        return false;
    }

    Batch* Find(const std::string& id) {
        for (Batch& batch : batches_) {
            if (batch.id == id) {
                return &batch;
            }
        }
        return nullptr;
    }

    static bool Ended(const Batch& batch) {
        const std::string& status = batch.statuses[batch.step];
        return status == "completed" || status == "failed" || status == "expired" || status == "cancelled";
    }

    Json Describe(const Batch& batch) const {
        const std::string& status = batch.statuses[batch.step];
        const auto total = static_cast<long long>(batch.lines.size());
        const bool ended = Ended(batch);
        Json described = {{"id", batch.id},
                          {"object", "batch"},
                          {"endpoint", "/v1/chat/completions"},
                          {"input_file_id", batch.inputFileId},
                          {"completion_window", "24h"},
                          {"status", status},
                          {"output_file_id", batch.outputFileId.empty() ? Json() : Json(batch.outputFileId)},
                          {"error_file_id", batch.errorFileId.empty() ? Json() : Json(batch.errorFileId)},
                          {"created_at", batch.createdAt},
                          {"request_counts",
                           {{"total", total},
                            {"completed", ended                    ? batch.completed
                                          : status == "validating" ? 0
                                                                   : total / 2},
                            {"failed", ended ? batch.failed : 0}}},
                          {"metadata", batch.metadata}};
        if (status == "failed") {
            described["errors"] = {
                {"object", "list"},
                {"data", {{{"code", "invalid_request"}, {"message", "the test failed it"}, {"line", 1}}}}};
        }
        return described;
    }

    void Upload(const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        if (Refused(request, response)) {
            return;
        }
        if (!request.is_multipart_form_data() || request.get_file_value("purpose").content != "batch" ||
            !request.has_file("file")) {
            return Error(response, 400, "purpose batch and a file are required");
        }
        const std::string id = "file-" + std::to_string(++ids_);
        files_[id] = request.get_file_value("file").content;
        response.set_content(Json{{"id", id},
                                  {"object", "file"},
                                  {"purpose", "batch"},
                                  {"filename", request.get_file_value("file").filename}}
                                 .dump(),
                             "application/json");
    }

    void Create(const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        if (Refused(request, response)) {
            return;
        }
        const Json asked = Json::parse(request.body, nullptr, false);
        const auto file = files_.find(asked.value("input_file_id", ""));
        if (file == files_.end() || asked.value("endpoint", "") != "/v1/chat/completions" ||
            asked.value("completion_window", "") != "24h") {
            return Error(response, 400, "input_file_id, endpoint or completion_window is wrong");
        }
        Batch batch;
        batch.id = "batch_" + std::to_string(++ids_);
        batch.inputFileId = file->first;
        batch.metadata = asked.value("metadata", Json::object());
        batch.plan = plan_;
        batch.statuses = plan_.statuses;
        batch.createdAt = static_cast<long long>(std::time(nullptr));
        std::set<std::string> ids;
        for (std::size_t from = 0; from < file->second.size();) {
            std::size_t end = file->second.find('\n', from);
            end = end == std::string::npos ? file->second.size() : end;
            const Json line = Json::parse(file->second.substr(from, end - from), nullptr, false);
            from = end + 1;
            const std::string customId = line.value("custom_id", "");
            const Json body = line.value("body", Json());
            if (customId.empty() || !ids.insert(customId).second || line.value("method", "") != "POST" ||
                line.value("url", "") != "/v1/chat/completions" || body.contains("stream") || MessageOf(body).empty()) {
                return Error(response, 400,
                             "line " + std::to_string(batch.lines.size() + 1) + " is not a valid request");
            }
            batch.lines.push_back({customId, MessageOf(body)});
        }
        batches_.push_back(batch);
        response.set_content(Describe(batches_.back()).dump(), "application/json");
    }

    void List(const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        const std::size_t limit = request.has_param("limit") ? std::stoul(request.get_param_value("limit")) : 20;
        const std::string after = request.get_param_value("after");
        Json data = Json::array();
        bool started = after.empty();
        bool more = false;
        for (auto batch = batches_.rbegin(); batch != batches_.rend(); ++batch) {
            if (!started) {
                started = batch->id == after;
                continue;
            }
            if (data.size() == limit) {
                more = true;
                break;
            }
            data.push_back(Describe(*batch));
        }
        response.set_content(Json{{"object", "list"}, {"data", data}, {"has_more", more}}.dump(), "application/json");
    }

    void Poll(const std::string& id, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        ++polls_;
        Batch* batch = Find(id);
        if (batch == nullptr) {
            return Error(response, 404, "No such batch");
        }
        if (!Ended(*batch) && batch->step + 1 < batch->statuses.size()) {
            ++batch->step;
            if (Ended(*batch)) {
                Finish(*batch);
            }
        }
        response.set_content(Describe(*batch).dump(), "application/json");
    }

    // Writes the output and error files of a batch that has just ended.
    void Finish(Batch& batch) {
        const std::string status = batch.statuses[batch.step];
        if (status == "failed") {
            return;
        }
        const Plan& plan = batch.plan;
        const std::size_t answered =
            status == "cancelled" && plan.answered < 0
                ? batch.lines.size() / 2
                : std::min<std::size_t>(plan.answered < 0 ? batch.lines.size() : plan.answered, batch.lines.size());
        std::vector<std::string> output;
        std::vector<std::string> errors;
        for (std::size_t i = 0; i < batch.lines.size(); ++i) {
            const Line& line = batch.lines[i];
            Json result = {{"id", "batch_req_" + std::to_string(++ids_)}, {"custom_id", line.customId}};
            if (i >= answered) {
                result["response"] = nullptr;
                result["error"] = {{"code", status == "cancelled" ? "batch_cancelled" : plan.unansweredCode},
                                   {"message", "This request could not be executed."}};
                if (!plan.noErrorFile) {
                    errors.push_back(result.dump());
                }
            } else if (plan.refused.contains(line.message)) {
                result["response"] = {{"status_code", 400},
                                      {"body", {{"error", {{"message", "refused by the test"}}}}}};
                result["error"] = nullptr;
                errors.push_back(result.dump());
            } else {
                result["response"] = {{"status_code", 200}, {"request_id", "req"}, {"body", Completion(line.message)}};
                result["error"] = nullptr;
                output.push_back(result.dump());
            }
        }
        batch.completed = static_cast<long long>(output.size());
        batch.failed = static_cast<long long>(errors.size());
        if (plan.reversed) {
            std::reverse(output.begin(), output.end());
            std::reverse(errors.begin(), errors.end());
        }
        const auto store = [this](const std::vector<std::string>& lines) {
            if (lines.empty()) {
                return std::string();
            }
            const std::string id = "file-" + std::to_string(++ids_);
            for (const std::string& line : lines) {
                files_[id] += line + "\n";
            }
            return id;
        };
        batch.outputFileId = store(output);
        batch.errorFileId = store(errors);
    }

    void Direct(const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        const std::string message = MessageOf(Json::parse(request.body, nullptr, false));
        direct_.push_back(message);
        Json reply = Completion(message);
        const std::string article = reply["choices"][0]["message"]["content"];
        std::string stream =
            "data: " +
            Json{{"choices", {{{"index", 0}, {"delta", {{"content", article}}}, {"finish_reason", "stop"}}}}}.dump() +
            "\n\n";
        if (tellUsage_) {
            stream += "data: " + Json{{"choices", Json::array()}, {"usage", reply["usage"]}}.dump() + "\n\n";
        } else {
            usage_.prompt -= reply["usage"]["prompt_tokens"].get<long long>();
            usage_.completion -= reply["usage"]["completion_tokens"].get<long long>();
        }
        response.set_content(stream + "data: [DONE]\n\n", "text/event-stream");
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    Plan plan_;
    std::map<std::string, int> refusals_;
    std::map<std::string, std::string> files_;
    std::vector<Batch> batches_;
    std::vector<std::string> direct_;
    Usage usage_;
    bool tellUsage_ = true;
    int polls_ = 0;
    long long ids_ = 0;
};

}  // namespace qj::testing

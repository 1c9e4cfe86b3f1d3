#include "batch/batch_service.h"

#include <nlohmann/json.hpp>
#include <random>

#include "http/http_request.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

using Json = nlohmann::json;

std::atomic<int> g_timeoutSeconds{120};

constexpr std::string_view kChatPath = "/chat/completions";

const Json* Member(const Json& object, const char* name) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(name);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

Text GbkString(const Json* value) {
    return value != nullptr && value->is_string() ? WireToGbk(value->get<std::string>()) : Text();
}

long long NumberOf(const Json* value) {
    return value != nullptr && value->is_number() ? value->get<long long>() : 0;
}

// One line of text from the service for the log: line breaks folded, at most about 300 bytes.
Text OneLine(Text text) {
    text = ReplaceAll(ReplaceAll(text, "\r", " "), "\n", " ");
    if (text.size() > 300) {
        std::size_t cut = 0;
        while (cut < text.size()) {
            const std::size_t unit = GbkUnitLength(text, cut);
            if (cut + unit > 300) {
                break;
            }
            cut += unit;
        }
        text = text.substr(0, cut) + "…";
    }
    return text;
}

// The message of an error object ({"error":{"message":...}} or {"error":"..."}), else the start
// of the body.
Text ServiceWords(std::string_view body) {
    const Json value = Json::parse(body, nullptr, false);
    if (const Json* error = Member(value, "error")) {
        const Text message = error->is_string() ? GbkString(error) : GbkString(Member(*error, "message"));
        if (!message.empty()) {
            return OneLine(message);
        }
    }
    if (const Json* message = Member(value, "message")) {
        return OneLine(GbkString(message));
    }
    return OneLine(IsCleanUtf8(body) ? WireToGbk(body) : Text(body));
}

BatchInfo ReadBatchInfo(const Json& value) {
    BatchInfo info;
    info.id = GbkString(Member(value, "id"));
    info.status = GbkString(Member(value, "status"));
    info.inputFileId = GbkString(Member(value, "input_file_id"));
    info.outputFileId = GbkString(Member(value, "output_file_id"));
    info.errorFileId = GbkString(Member(value, "error_file_id"));
    info.createdAt = NumberOf(Member(value, "created_at"));
    if (const Json* counts = Member(value, "request_counts")) {
        info.counts.total = NumberOf(Member(*counts, "total"));
        info.counts.completed = NumberOf(Member(*counts, "completed"));
        info.counts.failed = NumberOf(Member(*counts, "failed"));
    }
    if (const Json* metadata = Member(value, "metadata"); metadata != nullptr && metadata->is_object()) {
        for (const auto& [name, entry] : metadata->items()) {
            if (entry.is_string()) {
                info.metadata[WireToGbk(name)] = WireToGbk(entry.get<std::string>());
            }
        }
    }
    if (const Json* errors = Member(value, "errors")) {
        const Json* data = Member(*errors, "data");
        for (const Json& error : data != nullptr && data->is_array() ? *data : Json::array()) {
            Text one = GbkString(Member(error, "message"));
            if (one.empty()) {
                one = GbkString(Member(error, "code"));
            }
            if (const Json* line = Member(error, "line"); line != nullptr && line->is_number()) {
                one = "第" + std::to_string(line->get<long long>()) + "行：" + one;
            }
            if (!one.empty()) {
                info.errors += (info.errors.empty() ? "" : "；") + one;
            }
        }
        info.errors = OneLine(info.errors);
    }
    return info;
}

Text CleanKey(std::string_view key) {
    Text clean;
    for (const char c : TrimAsciiBlanks(key)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            clean.push_back(c);
        }
    }
    return clean;
}

// An id as one segment of a URL path: the unreserved characters stay, every other byte is escaped.
Text PathSegment(std::string_view id) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    Text segment;
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            segment.push_back(c);
        } else {
            segment += {'%', kDigits[byte >> 4], kDigits[byte & 15]};
        }
    }
    return segment;
}

Text RandomBoundary() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device device;
    Text boundary = "qingjian-";
    for (int i = 0; i < 24; ++i) {
        boundary.push_back(kDigits[device() % 16]);
    }
    return boundary;
}

}  // namespace

Text BatchEndpoints::Url(std::string_view tail, std::string_view extraQuery) const {
    Text url = base + Text(tail) + query;
    if (!extraQuery.empty()) {
        url += query.empty() ? '?' : '&';
        url += extraQuery;
    }
    return url;
}

BatchEndpoints BatchEndpointsOf(const Text& chatUrl) {
    BatchEndpoints endpoints;
    const std::size_t queryAt = chatUrl.find('?');
    endpoints.query = queryAt == Text::npos ? Text() : chatUrl.substr(queryAt);
    std::string_view path = std::string_view(chatUrl).substr(0, queryAt);
    if (path.size() >= kChatPath.size() &&
        FindText(path.substr(path.size() - kChatPath.size()), kChatPath, 0, true) == 0) {
        path.remove_suffix(kChatPath.size());
    }
    endpoints.base = Text(path);
    const std::size_t schemeEnd = path.find("://");
    const std::size_t hostEnd = path.find('/', schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3);
    const std::size_t lastSlash = path.rfind('/');
    endpoints.chatPath =
        (hostEnd == std::string_view::npos || lastSlash < hostEnd ? Text() : Text(path.substr(lastSlash))) +
        Text(kChatPath);
    return endpoints;
}

bool BatchInfo::Ended() const {
    return status == "completed" || status == "failed" || status == "expired" || status == "cancelled";
}

void BatchService::SetTimeoutSeconds(int seconds) {
    g_timeoutSeconds.store(seconds);
}

BatchService::Exchange BatchService::Send(int method, const Text& url, const Bytes& body, const Text& contentType,
                                          bool cancellable) {
    Exchange exchange;
    Text headers = "Accept: application/json\r\nUser-Agent: Qingjian/1.0";
    if (!contentType.empty()) {
        headers += "\r\nContent-Type: " + contentType;
    }
    const Text key = CleanKey(connection_.key);
    if (!key.empty()) {
        headers += "\r\nAuthorization: Bearer " + key;
    }
    HttpRequestParams params;
    params.url = url;
    params.method = method;
    if (method == 1) {
        // An empty body still goes as one (a POST without a body is sent with an empty one).
        params.bodyBytes = body;
    }
    params.headers = headers;
    params.addDefaultHeaders = false;
    params.timeoutSeconds = g_timeoutSeconds.load();
    params.cancel = cancellable ? cancel_ : nullptr;
    if (!connection_.proxyHostPort.empty()) {
        params.proxy = connection_.proxyHostPort;
        params.proxyTunnel = true;
        if (!connection_.proxyUser.empty()) {
            params.proxyUser = connection_.proxyUser;
            params.proxyPassword = connection_.proxyPassword;
        }
    }
    Result<HttpResponse> reply = HttpRequest(params);
    if (!reply) {
        exchange.transferError = reply.error().reason;
        return exchange;
    }
    exchange.status = reply->status;
    exchange.body = std::move(reply->body);
    return exchange;
}

BatchFailure BatchService::FailureOf(const Exchange& exchange, const Text& url) const {
    BatchFailure failure;
    failure.status = exchange.status;
    failure.transient =
        exchange.status == 0 || exchange.status == 408 || exchange.status == 429 || exchange.status >= 500;
    if (exchange.status == 0) {
        failure.detail =
            "网络请求失败：" + (exchange.transferError.empty() ? Text("没有收到回复") : exchange.transferError);
        if (!connection_.proxyShown.empty()) {
            failure.detail += "（经代理服务器 " + connection_.proxyShown + "）";
        }
    } else {
        const Text words = ServiceWords(exchange.body);
        failure.detail =
            (words.empty() ? Text("服务返回了错误") : words) + "（HTTP " + std::to_string(exchange.status) + "）";
    }
    failure.detail += "：" + Text(TextLeftOf(url + "?", "?"));
    return failure;
}

BatchAnswer<BatchInfo> BatchService::BatchReply(const Exchange& exchange, const Text& url) const {
    BatchAnswer<BatchInfo> answer;
    if (exchange.status < 200 || exchange.status > 299) {
        answer.failure = FailureOf(exchange, url);
        return answer;
    }
    const Json value = Json::parse(exchange.body, nullptr, false);
    BatchInfo info = ReadBatchInfo(value);
    if (info.id.empty() || info.status.empty()) {
        answer.failure.status = exchange.status;
        answer.failure.detail = "服务的回复不是批量任务：" + ServiceWords(exchange.body);
        return answer;
    }
    answer.value = std::move(info);
    return answer;
}

BatchAnswer<Text> BatchService::UploadFile(const Text& fileName, const Bytes& jsonl) {
    Text boundary = RandomBoundary();
    while (jsonl.find(boundary) != Bytes::npos) {
        boundary = RandomBoundary();
    }
    const Bytes body = "--" + boundary +
                       "\r\nContent-Disposition: form-data; name=\"purpose\"\r\n\r\nbatch\r\n"
                       "--" +
                       boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                       GbkToWire(fileName) + "\"\r\nContent-Type: application/jsonl\r\n\r\n" + jsonl + "\r\n--" +
                       boundary + "--\r\n";
    const Text url = connection_.endpoints.Url("/files");
    const Exchange exchange = Send(1, url, body, "multipart/form-data; boundary=" + boundary);
    BatchAnswer<Text> answer;
    if (exchange.status < 200 || exchange.status > 299) {
        answer.failure = FailureOf(exchange, url);
        return answer;
    }
    const Text id = GbkString(Member(Json::parse(exchange.body, nullptr, false), "id"));
    if (id.empty()) {
        answer.failure.status = exchange.status;
        answer.failure.detail = "服务的回复中没有文件编号：" + ServiceWords(exchange.body);
        return answer;
    }
    answer.value = id;
    return answer;
}

BatchAnswer<BatchInfo> BatchService::CreateBatch(const Text& inputFileId, const std::map<Text, Text>& metadata) {
    Json request = {{"input_file_id", GbkToWire(inputFileId)},
                    {"endpoint", GbkToWire(connection_.endpoints.chatPath)},
                    {"completion_window", "24h"}};
    Json tags = Json::object();
    for (const auto& [name, value] : metadata) {
        tags[GbkToWire(name)] = GbkToWire(value);
    }
    request["metadata"] = std::move(tags);
    const Text url = connection_.endpoints.Url("/batches");
    return BatchReply(Send(1, url, request.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json"),
                      url);
}

BatchAnswer<BatchInfo> BatchService::GetBatch(const Text& id) {
    const Text url = connection_.endpoints.Url("/batches/" + PathSegment(id));
    return BatchReply(Send(0, url, {}, {}), url);
}

BatchAnswer<BatchPage> BatchService::ListBatches(const Text& after, int limit) {
    Text query = "limit=" + std::to_string(limit);
    if (!after.empty()) {
        query += "&after=" + PathSegment(after);
    }
    const Text url = connection_.endpoints.Url("/batches", query);
    const Exchange exchange = Send(0, url, {}, {});
    BatchAnswer<BatchPage> answer;
    if (exchange.status < 200 || exchange.status > 299) {
        answer.failure = FailureOf(exchange, url);
        return answer;
    }
    const Json value = Json::parse(exchange.body, nullptr, false);
    const Json* data = Member(value, "data");
    if (data == nullptr || !data->is_array()) {
        answer.failure.status = exchange.status;
        answer.failure.detail = "服务的回复不是批量任务列表：" + ServiceWords(exchange.body);
        return answer;
    }
    BatchPage page;
    for (const Json& entry : *data) {
        page.batches.push_back(ReadBatchInfo(entry));
    }
    const Json* more = Member(value, "has_more");
    page.hasMore = more != nullptr && more->is_boolean() && more->get<bool>() && !page.batches.empty();
    answer.value = std::move(page);
    return answer;
}

BatchAnswer<BatchInfo> BatchService::CancelBatch(const Text& id) {
    const Text url = connection_.endpoints.Url("/batches/" + PathSegment(id) + "/cancel");
    return BatchReply(Send(1, url, {}, {}, false), url);
}

BatchAnswer<Bytes> BatchService::FileContent(const Text& fileId) {
    const Text url = connection_.endpoints.Url("/files/" + PathSegment(fileId) + "/content");
    const Exchange exchange = Send(0, url, {}, {});
    BatchAnswer<Bytes> answer;
    if (exchange.status < 200 || exchange.status > 299) {
        answer.failure = FailureOf(exchange, url);
        return answer;
    }
    answer.value = exchange.body;
    return answer;
}

}  // namespace qj

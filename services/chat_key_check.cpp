#include "services/chat_key_check.h"

#include <nlohmann/json.hpp>

#include "services/chat_urls.h"
#include "services/chat_reply.h"
#include "services/completion.h"
#include "services/chat_completion.h"
#include "http/http_request.h"
#include "text/ascii.h"

namespace qj {

namespace {

constexpr int kKeyCheckTimeoutSeconds = 30;

KeyCheckResult CheckKey(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                        const std::atomic<bool>* cancel) {
    const ChatEndpoints endpoints = ResolveChatEndpoints(baseUrl, defaultBaseUrl);
    const auto failure = [&](Text reason, int status) {
        return Error{.kind = status == 0 ? ErrorKind::kNoReply : ErrorKind::kStatus,
                     .where = endpoints.modelsUrl,
                     .reason = std::move(reason),
                     .code = status};
    };
    if (!endpoints.error.empty()) {
        return Error{.kind = ErrorKind::kSettings, .where = baseUrl, .reason = endpoints.error};
    }
    if (KeyBreaksHeaderLine(TrimAsciiBlanks(key))) {
        return Error{.kind = ErrorKind::kRefusedHeader,
                     .where = endpoints.modelsUrl,
                     .reason = RefusedHeaderReason("Authorization")};
    }
    HttpRequestParams params;
    params.url = endpoints.modelsUrl;
    params.method = 0;  // GET
    params.headers = ChatRequestHeaders(key, false);
    params.addDefaultHeaders = false;
    params.timeoutSeconds = kKeyCheckTimeoutSeconds;
    params.cancel = cancel;
    const Result<HttpResponse> reply = HttpRequest(params);

    if (!reply) {
        const Text& transferError = reply.error().reason;
        return failure("网络请求失败：" + (transferError.empty() ? Text("没有收到回复") : transferError), 0);
    }
    const int status = reply->status;
    const Bytes& body = reply->body;
    const Text statusText = "（HTTP " + std::to_string(status) + "）";
    if (status < 200 || status > 299) {
        const Text message = ServiceErrorMessage(body);
        return failure((message.empty() ? Text("服务返回了错误") : message) + statusText, status);
    }
    const nlohmann::json list = nlohmann::json::parse(body, nullptr, false);
    const nlohmann::json* models = nullptr;
    if (list.is_array()) {
        models = &list;
    } else if (list.is_object()) {
        const auto data = list.find("data");
        if (data != list.end() && data->is_array()) {
            models = &*data;
        }
    }
    if (!models) {
        const Text message = ServiceErrorMessage(body);
        Error noList = failure("回复中没有模型列表" + (message.empty() ? Text() : "：" + message) + statusText, status);
        noList.kind = ErrorKind::kBadReply;
        return noList;
    }
    return ModelList{.modelCount = static_cast<int>(models->size()), .status = status};
}

}  // namespace

KeyCheckResult InterfaceThreeKeyCheck(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                                      const std::atomic<bool>* cancel) {
    try {
        return CheckKey(baseUrl, key, defaultBaseUrl, cancel);
    } catch (const std::exception& e) {
        // Only memory exhaustion gets here.
        return Error{.kind = ErrorKind::kNoReply, .where = baseUrl, .reason = Text("内部错误：") + e.what()};
    }
}

Text KeyCheckCaption(const ModelList& models) {
    return "密钥有效，可用模型：" + std::to_string(models.modelCount) + "个";
}

}  // namespace qj

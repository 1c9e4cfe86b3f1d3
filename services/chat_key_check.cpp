#include "services/chat_key_check.h"

#include <nlohmann/json.hpp>

#include "services/chat_urls.h"
#include "services/chat_reply.h"
#include "services/completion.h"
#include "services/chat_completion.h"
#include "http/http_request.h"
#include "text/ascii.h"
#include "window/control_names.h"

namespace qj {

namespace {

constexpr int kKeyCheckTimeoutSeconds = 30;

KeyCheckResult CheckKey(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                        const std::atomic<bool>* cancel) {
    KeyCheckResult result;
    const ChatEndpoints endpoints = ResolveChatEndpoints(baseUrl, defaultBaseUrl);
    if (!endpoints.error.empty()) {
        result.error = endpoints.error;
        return result;
    }
    if (KeyBreaksHeaderLine(TrimAsciiBlanks(key))) {
        result.error = RefusedHeaderReason("Authorization");
        return result;
    }
    Text headers = ChatRequestHeaders(key, false);
    Text transferError;
    HttpRequestParams params;
    params.url = endpoints.modelsUrl;
    params.method = 0;  // GET
    params.headers = &headers;
    params.addDefaultHeaders = false;
    params.status = &result.status;
    params.timeoutSeconds = kKeyCheckTimeoutSeconds;
    params.cancel = cancel;
    params.transferError = &transferError;
    const Bytes body = HttpRequest(params);

    if (result.status == 0) {
        result.error = "网络请求失败：" + (transferError.empty() ? Text("没有收到回复") : transferError);
        return result;
    }
    const Text statusText = "（HTTP " + std::to_string(result.status) + "）";
    if (result.status < 200 || result.status > 299) {
        const Text message = ServiceErrorMessage(body);
        result.error = (message.empty() ? Text("服务返回了错误") : message) + statusText;
        return result;
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
        result.error = "回复中没有模型列表" + (message.empty() ? Text() : "：" + message) + statusText;
        return result;
    }
    result.ok = true;
    result.modelCount = static_cast<int>(models->size());
    return result;
}

}  // namespace

KeyCheckResult InterfaceThreeKeyCheck(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                                      const std::atomic<bool>* cancel) {
    try {
        return CheckKey(baseUrl, key, defaultBaseUrl, cancel);
    } catch (const std::exception& e) {
        // Only memory exhaustion gets here.
        KeyCheckResult result;
        result.error = Text("内部错误：") + e.what();
        return result;
    }
}

KeyCheckResult InterfaceThreeKeyCheck(const WindowModel& window, const Deployment& deployment) {
    return InterfaceThreeKeyCheck(window.GetText(control::kEditInterfaceThreeBaseUrl, kPropContent),
                                  window.GetText(control::kEditOpenAiKey, kPropContent),
                                  DefaultChatBaseUrl(deployment));
}

Text KeyCheckCaption(const KeyCheckResult& result) {
    return "密钥有效，可用模型：" + std::to_string(result.modelCount) + "个";
}

}  // namespace qj

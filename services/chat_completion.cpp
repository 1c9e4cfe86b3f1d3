#include "services/chat_completion.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "checks/reply_checks.h"
#include "services/chat_urls.h"
#include "services/chat_reply.h"
#include "services/completion.h"
#include "services/prompt_template.h"
#include "services/rate_limits.h"
#include "http/http_request.h"
#include "settings/deployment.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// Bounds every stretch without a byte of content (keep-alive comments do not count); a streaming
// service sends its first token well within it.
std::atomic<int> g_chatTimeoutSeconds{600};

// GBK as UTF-8 with LF line breaks; zero bytes stay (the JSON writer escapes them) instead of
// ending the text.
std::string WireText(const Text& gbk) {
    const Text text = ReplaceAll(gbk, "\r\n", "\n");
    std::string utf8;
    std::size_t from = 0;
    for (std::size_t zero = text.find('\0'); zero != Text::npos; zero = text.find('\0', from)) {
        utf8 += AnsiToUtf8(std::string_view(text).substr(from, zero - from));
        utf8.push_back('\0');
        from = zero + 1;
    }
    return utf8 + AnsiToUtf8(std::string_view(text).substr(from));
}

// A filled template as it goes on the wire. The keyword is converted on its own: a byte of it that
// is no character (a lone lead byte) must not take the template's next byte with it.
std::string WireMessage(const Text& promptTemplate, const Text& keyword) {
    std::string utf8;
    std::size_t from = 0;
    const std::string_view placeholder = kKeywordPlaceholder;
    for (std::size_t at = FindText(promptTemplate, placeholder); at != kNotFound;
         at = FindText(promptTemplate, placeholder, from)) {
        utf8 += WireText(promptTemplate.substr(from, at - from)) + WireText(keyword);
        from = at + placeholder.size();
    }
    return utf8 + WireText(promptTemplate.substr(from));
}

std::optional<double> ParseTemperature(std::string_view typed, bool& valid) {
    valid = true;
    typed = TrimAsciiBlanks(typed);
    if (typed.empty()) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), value);
    if (error != std::errc() || end != typed.data() + typed.size() || !std::isfinite(value)) {
        valid = false;
        return std::nullopt;
    }
    return value;
}

// Header values must stay on their line. Blanks around a pasted key are dropped; a line break
// inside it is refused before anything is sent (KeyBreaksHeaderLine).
Text CleanKey(const Text& key) {
    Text clean;
    for (const char c : TrimAsciiBlanks(key)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            clean.push_back(c);
        }
    }
    return clean;
}

// Whether the proxy, not the service, stopped the exchange; if so the outcome says which way. A
// proxy's refusal of its credentials is 407, or 401 where a proxy (as some do) answers for itself
// with a Basic challenge and a page that is no JSON: chat services answer in JSON.
bool JudgedAsProxyTrouble(const ChatExchange& exchange, GenerationOutcome& outcome) {
    const Text which = "代理服务器 " + exchange.proxy;
    const Result<HttpResponse>& reply = exchange.reply;
    if (!reply && reply.error().kind == ErrorKind::kProxyUnreachable) {
        outcome.transient = false;
        outcome.endpointUnusable = true;
        outcome.errorDetail = which + " 连接不上：" + reply.error().reason;
        return true;
    }
    if (!reply) {
        return false;
    }
    const std::string_view body = TrimAsciiBlanks(reply->body);
    const bool basicChallenge = FindText(reply->headers, "-Authenticate: Basic", 0, true) != kNotFound;
    const bool credentialsRefused =
        reply->status == 407 ||
        (reply->status == 401 && (reply->refusedByProxy || (basicChallenge && !body.starts_with('{'))));
    if (credentialsRefused) {
        outcome.transient = false;
        outcome.endpointUnusable = true;
        outcome.errorDetail = which + " 拒绝了用户名或密码（HTTP " + std::to_string(reply->status) + "）";
        return true;
    }
    if (reply->refusedByProxy) {
        // A proxy that forbids the address refuses every request; one that cannot reach the
        // service may manage later.
        outcome.endpointUnusable = reply->status == 403;
        outcome.transient = !outcome.endpointUnusable;
        outcome.rateLimited = false;
        outcome.errorDetail = which + " 拒绝了到服务的连接（HTTP " + std::to_string(reply->status) + "）";
        return true;
    }
    return false;
}

}  // namespace

void SetChatTimeoutSeconds(int seconds) {
    g_chatTimeoutSeconds.store(seconds);
}

Text DefaultChatBaseUrl(const Deployment& deployment) {
    return deployment.openAi + "/v1";
}

ResolvedInterfaceThree ResolveInterfaceThree(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl) {
    ResolvedInterfaceThree resolved;
    ChatRequestConfig& config = resolved.config;
    const ChatEndpoints endpoints = ResolveChatEndpoints(settings.baseUrl, defaultBaseUrl);
    config.chatUrl = endpoints.chatUrl;
    config.modelsUrl = endpoints.modelsUrl;
    config.model = Text(TrimAsciiBlanks(settings.model));
    if (config.model.empty()) {
        config.model = kDefaultChatModel;
    }
    config.promptTemplate =
        TrimAsciiBlanks(settings.promptTemplate).empty() ? BuiltInPromptTemplate() : settings.promptTemplate;
    config.systemPrompt = TrimAsciiBlanks(settings.systemPrompt).empty() ? Text() : settings.systemPrompt;
    bool temperatureValid = true;
    config.temperature = ParseTemperature(settings.temperature, temperatureValid);
    ProxyReading proxy = ReadProxyAddress(settings.proxy);
    config.proxy = std::move(proxy.proxy);

    if (!endpoints.error.empty()) {
        resolved.error = "接口三设置有误：" + endpoints.error;
    } else if (!temperatureValid) {
        resolved.error = "接口三设置有误：温度必须是数字（例如 0.7），现在是：" + settings.temperature;
    } else if (!MentionsKeyword(config.promptTemplate) && !MentionsKeyword(config.systemPrompt)) {
        resolved.error = "接口三设置有误：提示词中没有" + Text(kKeywordPlaceholder) + "，关键词无法写进请求";
    } else if (!proxy.error.empty()) {
        resolved.error = "接口三设置有误：" + proxy.error;
    }
    return resolved;
}

Bytes ChatRequestBody(const ChatRequestConfig& config, const Text& keyword, const FollowUp& followUp,
                      const ChatMessages* filled) {
    nlohmann::ordered_json messages = nlohmann::ordered_json::array();
    const auto wire = [](const std::vector<Text>& pieces) {
        std::string utf8;
        for (const Text& piece : pieces) {
            utf8 += WireText(piece);
        }
        return utf8;
    };
    std::string prompt;
    if (filled) {
        if (!filled->system.empty()) {
            messages.push_back({{"role", "system"}, {"content", wire(filled->system)}});
        }
        prompt = wire(filled->user);
    } else {
        if (!config.systemPrompt.empty()) {
            messages.push_back({{"role", "system"}, {"content", WireMessage(config.systemPrompt, keyword)}});
        }
        prompt = WireMessage(config.promptTemplate, keyword);
    }
    if (!followUp.hint.empty()) {
        prompt += "\n" + WireText(followUp.hint);
    }
    messages.push_back({{"role", "user"}, {"content", std::move(prompt)}});
    if (!followUp.continuationPrompt.empty()) {
        messages.push_back({{"role", "assistant"}, {"content", WireText(followUp.written)}});
        messages.push_back({{"role", "user"}, {"content", WireText(followUp.continuationPrompt)}});
    }
    nlohmann::ordered_json body;
    body["model"] = AnsiToUtf8(config.model);
    body["messages"] = std::move(messages);
    body["stream"] = true;
    // Asks for the token count in the last chunk; services that do not know the option ignore it.
    body["stream_options"] = {{"include_usage", true}};
    if (config.temperature) {
        body["temperature"] = *config.temperature;
    }
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Text ChatRequestHeaders(const Text& key, bool withJsonBody) {
    Text block;
    if (withJsonBody) {
        block += "Content-Type: application/json\r\nAccept: text/event-stream, application/json\r\n";
    } else {
        block += "Accept: application/json\r\n";
    }
    block += "User-Agent: Qingjian/1.0";
    const Text clean = CleanKey(key);
    if (!clean.empty()) {
        block += "\r\nAuthorization: Bearer " + clean;
    }
    return block;
}

GenerationOutcome ChatOutcome(const ChatExchange& exchange, std::time_t now) {
    GenerationOutcome outcome;
    const Result<HttpResponse>& response = exchange.reply;
    if (exchange.cancelled || (!response && response.error().kind == ErrorKind::kCancelled)) {
        outcome.cancelled = true;
        return outcome;
    }
    if (!response && response.error().kind == ErrorKind::kRefusedHeader) {
        outcome.unusableSettings = true;
        outcome.errorDetail = RefusedHeaderReason(response.error().reason);
        return outcome;
    }
    const int status = response ? response->status : 0;
    const std::string_view headers = response ? std::string_view(response->headers) : std::string_view();
    const std::string_view body = response ? std::string_view(response->body) : std::string_view();
    ClassifyStatus(outcome, status, body);
    outcome.retryAfterSeconds = RetryAfterSeconds(headers, now);
    outcome.rateLimits = ReadRateLimits(headers, now);
    if (!exchange.proxy.empty() && JudgedAsProxyTrouble(exchange, outcome)) {
        return outcome;
    }
    if (!response) {
        const Text& transferError = response.error().reason;
        outcome.errorDetail = "网络请求失败：" + (transferError.empty() ? Text("没有收到回复") : transferError);
        return outcome;
    }
    const Text statusText = "（HTTP " + std::to_string(status) + "）";
    if (status < 200 || status > 299) {
        const Text message = ServiceErrorMessage(body);
        outcome.errorDetail = (message.empty() ? Text("服务返回了错误") : message) + statusText;
        if (SaysStoppedByReview(body, message)) {
            // Asking the same provider again would only be refused again.
            outcome.reviewRefused = true;
            outcome.transient = false;
            outcome.rateLimited = false;
            outcome.endpointUnusable = false;
        }
        return outcome;
    }

    const ChatReply reply = ParseChatReply(body);
    outcome.usage = reply.usage;
    outcome.finishReason = reply.finishReason;
    if (!reply.error.empty()) {
        outcome.errorDetail = ShortReplyText(reply.error);
        outcome.reviewRefused = SaysStoppedByReview(body, outcome.errorDetail);
    } else if (!reply.malformed.empty()) {
        outcome.errorDetail = "无法解析服务的回复：" + ShortReplyText(reply.malformed);
    } else if (!reply.recognised) {
        outcome.errorDetail = body.empty() ? "服务返回了空回复" + statusText
                                           : "服务的回复不是对话补全格式：" + ShortReplyText(body);
    } else if (!reply.complete) {
        // The connection ended in the middle of the text.
        outcome.transient = true;
        outcome.errorDetail = "回复在结束标记 [DONE] 之前中断，内容不完整";
    } else {
        outcome.text = ChatTextToGbk(reply.content);
        // The provider's review stopped the text: what came is no article, whatever its length.
        outcome.reviewRefused = IsReviewFinish(reply.finishReason);
        if (outcome.text.empty()) {
            outcome.errorDetail = "服务没有返回任何内容";
            if (!reply.finishReason.empty()) {
                outcome.errorDetail += "（finish_reason：" + ShortReplyText(reply.finishReason) + "）";
            }
        } else if (outcome.reviewRefused) {
            outcome.errorDetail = "内容审核未通过（finish_reason：" + ShortReplyText(reply.finishReason) + "）";
        } else {
            outcome.ok = true;
        }
    }
    return outcome;
}

namespace {

GenerationOutcome ExchangeForKeyword(const ChatRequestConfig& config, const Text& keyword, const Text& key,
                                     const std::atomic<bool>* cancel, const ResponseStart& onResponseStart,
                                     const FollowUp& followUp, const ChatMessages* messages) {
    ChatExchange exchange;
    if (KeyBreaksHeaderLine(TrimAsciiBlanks(key))) {
        exchange.reply = Error{.kind = ErrorKind::kRefusedHeader, .where = config.chatUrl, .reason = "Authorization"};
        return ChatOutcome(exchange, std::time(nullptr));
    }
    HttpRequestParams params;
    params.url = config.chatUrl;
    params.method = 1;  // POST
    params.bodyBytes = ChatRequestBody(config, keyword, followUp, messages);
    params.headers = ChatRequestHeaders(key, true);
    params.addDefaultHeaders = false;
    params.timeoutSeconds = g_chatTimeoutSeconds.load();
    params.cancel = cancel;
    params.onResponseStart = onResponseStart;
    params.bodyProgress = [progress = StreamProgress()](std::string_view bytes) mutable { return progress.Feed(bytes); };
    if (config.proxy) {
        params.proxy = config.proxy->hostPort;
        // Through a tunnel a refusal of the credentials comes before any byte of the request, and
        // no proxy can hold the streamed reply back.
        params.proxyTunnel = true;
        if (!config.proxy->user.empty()) {
            params.proxyUser = config.proxy->user;
            params.proxyPassword = config.proxy->password;
        }
        exchange.proxy = config.proxy->Shown();
    }
    exchange.reply = HttpRequest(params);
    exchange.cancelled = cancel && cancel->load();
    return ChatOutcome(exchange, std::time(nullptr));
}

}  // namespace

GenerationOutcome RequestChatCompletion(const ChatRequestConfig& config, const Text& keyword, const Text& key,
                                        const std::atomic<bool>* cancel, const ResponseStart& onResponseStart,
                                        const FollowUp& followUp, const ChatMessages* messages) {
    try {
        return ExchangeForKeyword(config, keyword, key, cancel, onResponseStart, followUp, messages);
    } catch (const std::exception& e) {
        // Only memory exhaustion gets here; the keyword fails like any other.
        GenerationOutcome outcome;
        outcome.errorDetail = Text("内部错误：") + e.what();
        return outcome;
    }
}

Generator InterfaceThreeGenerator(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl) {
    return [resolved = ResolveInterfaceThree(settings, defaultBaseUrl)](const Text& keyword, const Text& key,
                                                                        const std::atomic<bool>* cancel) {
        if (!resolved.error.empty()) {
            GenerationOutcome outcome;
            outcome.unusableSettings = true;
            outcome.errorDetail = resolved.error;
            return outcome;
        }
        return RequestChatCompletion(resolved.config, keyword, key, cancel);
    };
}

}  // namespace qj

#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "http/http_request.h"
#include "services/endpoint_lines.h"
#include "services/generator.h"
#include "settings/deployment.h"
#include "text/types.h"

namespace qj {

// The model asked for when the user named none.
inline constexpr const char* kDefaultChatModel = "gpt-4o-mini";

// The settings of interface three as the user typed them (GBK).
struct InterfaceThreeSettings {
    Text baseUrl{};          // empty: the OpenAI API
    Text model{};            // empty: kDefaultChatModel
    Text promptTemplate{};   // empty: the built-in template
    Text systemPrompt{};     // empty: no system message
    Text temperature{};      // empty: none sent
    Text backupEndpoints{};  // one further endpoint per line (see ReadEndpointLines)
    Text proxy{};            // empty: direct
};

// The base URL used when the user gave none: the deployment's OpenAI origin with "/v1".
Text DefaultChatBaseUrl(const Deployment& deployment);

// What every request of one run sends, the defaults filled in.
struct ChatRequestConfig {
    Text chatUrl;
    Text modelsUrl;
    Text model;
    Text promptTemplate;
    Text systemPrompt;
    std::optional<double> temperature;
    std::optional<ProxyAddress> proxy;  // nullopt: direct
};

struct ResolvedInterfaceThree {
    ChatRequestConfig config;
    Text error;  // why these settings cannot work (GBK, for the run log); empty when they can
};

// Fills in the defaults and checks what would make every request fail: an address that is not
// http or https, a temperature that is not a number, a prompt that never names the keyword, a proxy
// that cannot be read. The backup endpoints are not looked at.
ResolvedInterfaceThree ResolveInterfaceThree(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl);

// The messages of one request that the run fills itself (a step before the article, a template with
// columns): each message as pieces converted for the wire one by one, so that a byte of a value that
// is no whole character never joins the next piece. No system message when `system` is empty.
struct ChatMessages {
    std::vector<Text> system;
    std::vector<Text> user;
};

// The JSON body (UTF-8) of the request for one keyword: model, messages (the system message when
// there is one, then the filled template as the user message, the follow-up's hint on a line of its
// own after it; for a continuation the article so far as the assistant's message and the
// continuation prompt as a further user message), stream with usage, temperature. `messages`, when
// given, stand for the system message and the filled template.
Bytes ChatRequestBody(const ChatRequestConfig& config, const Text& keyword, const FollowUp& followUp = {},
                      const ChatMessages* messages = nullptr);

// The request header lines; no Authorization line for an empty key (local servers need none).
Text ChatRequestHeaders(const Text& key, bool withJsonBody);

// One finished exchange, as the HTTP layer reported it.
struct ChatExchange {
    Result<HttpResponse> reply = HttpResponse();
    Text proxy;              // the proxy it went through, as the log shows it; empty: direct
    bool cancelled = false;  // the stop request came during the exchange
};

// Judges one exchange: the generated text, or why there is none, with the status, Retry-After and
// rate limits, whether a later try may work, whether the endpoint (or its proxy) refuses every
// request, and the token count the service reported.
GenerationOutcome ChatOutcome(const ChatExchange& exchange, std::time_t now);

// Called when a reply begins, with its status and header lines.
using ResponseStart = std::function<void(int status, const Text& responseHeaders)>;

// One streamed chat-completion request for one keyword; blocks for the whole exchange.
GenerationOutcome RequestChatCompletion(const ChatRequestConfig& config, const Text& keyword, const Text& key,
                                        const std::atomic<bool>* cancel = nullptr,
                                        const ResponseStart& onResponseStart = {}, const FollowUp& followUp = {},
                                        const ChatMessages* messages = nullptr);

// How long a chat request may go without a byte of content moved (keep-alive comments of a stream
// are none), and take to connect: 600 s. Tests shorten it.
void SetChatTimeoutSeconds(int seconds);

// The generator of interface three. Settings that cannot work give every keyword an outcome with
// unusableSettings set, so the run ends at once instead of failing keyword after keyword.
Generator InterfaceThreeGenerator(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl);

}  // namespace qj

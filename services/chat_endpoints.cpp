#include "services/chat_endpoints.h"

#include <memory>

#include "services/endpoint_lines.h"
#include "services/endpoint_pool.h"

namespace qj {

namespace {

constexpr const char* kMainKeyShown = "同「API秘钥」";

PoolEndpoint Endpoint(const ChatEndpoint& chat) {
    PoolEndpoint endpoint;
    const ChatRequestConfig& config = chat.config;
    endpoint.description = MaskedUrl(config.chatUrl) + "，模型 " + config.model + "，密钥 " + chat.keyShown + "，" +
                           (config.proxy ? "代理 " + config.proxy->Shown() : Text("直连"));
    endpoint.key = chat.key;
    endpoint.request = [config](const Text& keyword, const Text& requestKey, const std::atomic<bool>* cancel,
                                const ResponseStart& onResponseStart, const FollowUp& followUp,
                                const ChatMessages* messages) {
        return RequestChatCompletion(config, keyword, requestKey, cancel, onResponseStart, followUp, messages);
    };
    return endpoint;
}

}  // namespace

ChatEndpointPlan PlanChatEndpoints(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl) {
    ChatEndpointPlan plan;
    const ResolvedInterfaceThree main = ResolveInterfaceThree(settings, defaultBaseUrl);
    if (!main.error.empty()) {
        plan.error = main.error;
        return plan;
    }
    plan.endpoints.push_back({.config = main.config, .key = Text(), .keyShown = kMainKeyShown});

    EndpointLines lines = ReadEndpointLines(settings.backupEndpoints);
    plan.problems = std::move(lines.problems);
    for (const EndpointLine& line : lines.endpoints) {
        InterfaceThreeSettings own = settings;
        if (!line.baseUrl.empty()) {
            own.baseUrl = line.baseUrl;
        }
        if (!line.model.empty()) {
            own.model = line.model;
        }
        // The line's address was checked when it was read, and the rest is the main settings'.
        ResolvedInterfaceThree resolved = ResolveInterfaceThree(own, defaultBaseUrl);
        if (line.proxyChoice == EndpointLine::Proxy::kDirect) {
            resolved.config.proxy.reset();
        } else if (line.proxyChoice == EndpointLine::Proxy::kOwn) {
            resolved.config.proxy = line.ownProxy;
        }
        plan.endpoints.push_back({.config = std::move(resolved.config),
                                  .key = line.key,
                                  .keyShown = line.key.empty() ? Text(kMainKeyShown) : MaskedKey(line.key)});
    }
    return plan;
}

Generator ChatEndpointsGenerator(const ChatEndpointPlan& plan, const LogSink& log) {
    const auto say = [&log](const Text& message) {
        if (log) {
            log(message);
        }
    };
    if (!plan.error.empty()) {
        return [error = plan.error](const Text&, const Text&, const std::atomic<bool>*) {
            GenerationOutcome outcome;
            outcome.unusableSettings = true;
            outcome.errorDetail = error;
            return outcome;
        };
    }
    for (const Text& problem : plan.problems) {
        say(problem);
    }
    std::vector<PoolEndpoint> endpoints;
    for (const ChatEndpoint& endpoint : plan.endpoints) {
        endpoints.push_back(Endpoint(endpoint));
    }
    if (endpoints.size() > 1 || plan.endpoints.front().config.proxy) {
        if (endpoints.size() > 1) {
            say("接口三共有" + std::to_string(endpoints.size()) + "个端点，关键词按各端点的剩余额度分配：");
        }
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            say("端点" + std::to_string(i + 1) + (i == 0 ? "（主设置）" : Text()) + "：" + endpoints[i].description);
        }
    }
    return PooledGenerator{std::make_shared<EndpointPool>(std::move(endpoints), log)};
}

}  // namespace qj

#include "services/chat_endpoints.h"

#include <memory>

#include "services/endpoint_lines.h"
#include "services/endpoint_pool.h"
#include "window/run_log.h"

namespace qj {

namespace {

PoolEndpoint Endpoint(const ChatRequestConfig& config, const Text& key, const Text& keyShown) {
    PoolEndpoint endpoint;
    endpoint.description = MaskedUrl(config.chatUrl) + "，模型 " + config.model + "，密钥 " + keyShown + "，" +
                           (config.proxy ? "代理 " + config.proxy->Shown() : Text("直连"));
    endpoint.key = key;
    endpoint.request = [config](const Text& keyword, const Text& requestKey, const std::atomic<bool>* cancel,
                                const ResponseStart& onResponseStart) {
        return RequestChatCompletion(config, keyword, requestKey, cancel, onResponseStart);
    };
    return endpoint;
}

}  // namespace

Generator InterfaceThreeEndpointsGenerator(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl) {
    const ResolvedInterfaceThree main = ResolveInterfaceThree(settings, defaultBaseUrl);
    if (!main.error.empty()) {
        return InterfaceThreeGenerator(settings, defaultBaseUrl);
    }
    std::vector<PoolEndpoint> endpoints;
    endpoints.push_back(Endpoint(main.config, Text(), "同「API秘钥」"));

    const EndpointLines lines = ReadEndpointLines(settings.backupEndpoints);
    for (const Text& problem : lines.problems) {
        RunLog(problem);
    }
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
        endpoints.push_back(
            Endpoint(resolved.config, line.key, line.key.empty() ? Text("同「API秘钥」") : MaskedKey(line.key)));
    }

    if (endpoints.size() > 1 || main.config.proxy) {
        if (endpoints.size() > 1) {
            RunLog("接口三共有" + std::to_string(endpoints.size()) + "个端点，关键词按各端点的剩余额度分配：");
        }
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            RunLog("端点" + std::to_string(i + 1) + (i == 0 ? "（主设置）" : Text()) + "：" + endpoints[i].description);
        }
    }
    return PooledGenerator{std::make_shared<EndpointPool>(std::move(endpoints))};
}

}  // namespace qj

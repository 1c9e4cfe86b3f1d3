#pragma once

#include <vector>

#include "services/chat_completion.h"
#include "services/generator.h"
#include "services/caller_hooks.h"

namespace qj {

// One endpoint of interface three as a run will ask it.
struct ChatEndpoint {
    ChatRequestConfig config;
    Text key;       // empty: the main key
    Text keyShown;  // how the run log names the key: masked, or 同「API秘钥」
};

// The endpoints of interface three read from its settings: endpoint 1 the main settings, then one
// per usable line of the backup box, each with its key, model and proxy. `error` tells why the main
// settings cannot work (every keyword would fail the same way; no endpoint is made then);
// `problems` has one run-log line per backup line that cannot be used.
struct ChatEndpointPlan {
    std::vector<ChatEndpoint> endpoints;
    std::vector<Text> problems;
    Text error;
};
ChatEndpointPlan PlanChatEndpoints(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl);

// The generator of a run on interface three: the plan's endpoints in a pool (see EndpointPool). The
// plan's problems are logged first, then every endpoint when there is more than one or a proxy.
// A plan whose main settings cannot work gives every keyword an outcome with unusableSettings
// set, so the run ends at once instead of failing keyword after keyword.
Generator ChatEndpointsGenerator(const ChatEndpointPlan& plan, const LogSink& log);

}  // namespace qj

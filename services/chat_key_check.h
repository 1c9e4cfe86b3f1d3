#pragma once

#include <atomic>

#include "platform/result.h"
#include "settings/deployment.h"
#include "text/types.h"

namespace qj {

// What a chat-completion service said when asked for its model list with a key.
struct ModelList {
    int modelCount = 0;  // models the key may use
    int status = 0;      // HTTP status of the reply
};

// The model list, or why the check failed: the reason (GBK) in the service's own words where it
// gave any, the HTTP status as the code (0 when there was no reply).
using KeyCheckResult = Result<ModelList>;

// GET {base}/models with the key as a Bearer token (`baseUrl` as typed, with the rules of the
// interface's address; empty means `defaultBaseUrl`). A success is a 2xx reply carrying a model list.
KeyCheckResult InterfaceThreeKeyCheck(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                                      const std::atomic<bool>* cancel = nullptr);

// What the credit label shows after a successful check.
Text KeyCheckCaption(const ModelList& models);

}  // namespace qj

#pragma once

#include <atomic>

#include "settings/deployment.h"
#include "text/types.h"
#include "window/window_model.h"

namespace qj {

// The outcome of asking a chat-completion service for its model list with a key.
struct KeyCheckResult {
    bool ok = false;
    int modelCount = 0;  // models the key may use
    int status = 0;      // HTTP status; 0 when there was no reply
    Text error;          // why the check failed (GBK), the service's own words where it gave any
};

// GET {base}/models with the key as a Bearer token (`baseUrl` as typed, with the rules of the
// interface's address; empty means `defaultBaseUrl`). A success is a 2xx reply carrying a model list.
KeyCheckResult InterfaceThreeKeyCheck(const Text& baseUrl, const Text& key, const Text& defaultBaseUrl,
                                      const std::atomic<bool>* cancel = nullptr);

// The same with the address of 编辑框_接口三_API地址 and the key of 编辑框_OpenAi_API秘钥, read from
// the window (the default address comes from the deployment).
KeyCheckResult InterfaceThreeKeyCheck(const WindowModel& window, const Deployment& deployment);

// What the credit label shows after a successful check.
Text KeyCheckCaption(const KeyCheckResult& result);

}  // namespace qj

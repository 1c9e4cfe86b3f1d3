#pragma once

#include "text/types.h"

namespace qj {

// Where the requests of a chat-completion service go, from the address the user typed.
struct ChatEndpoints {
    Text chatUrl;    // POST: the chat completions
    Text modelsUrl;  // GET: the model list (the key check)
    Text error;      // why the address cannot be used (GBK); empty when it can
};

// `typed` is the API base URL as typed (blanks around it do not count); empty means `defaultBase`.
// The base may end with a slash or not. An address without a path gets "/v1", the path every
// service of this protocol uses. A full ".../chat/completions" URL is used as it is, and its models
// URL is its base with "/models". A query string stays on both URLs. Only http and https work.
ChatEndpoints ResolveChatEndpoints(const Text& typed, const Text& defaultBase);

}  // namespace qj

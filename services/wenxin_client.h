#pragma once

#include "settings/deployment.h"
#include "text/types.h"
#include "platform/result.h"
#include "services/caller_hooks.h"

namespace qj {

// The header block both Wenxin requests start from.
inline constexpr const char* kWenxinHeaderBlock = "Content-Type:application/x-www-form-urlencoded";

Text WenxinTokenUrl(const Deployment& deployment);
// The generation URL up to and including "?access_token="; the token follows unchanged.
Text WenxinGenerationUrlPrefix(const Deployment& deployment);

// The keys go into the form as they stand, not encoded.
Text WenxinTokenBody(const Text& apiKey, const Text& secretKey);
// The sample question, percent-encoded byte for byte, with the fixed generation parameters.
Text WenxinGenerationBody();

// The token a token reply names (empty when it names none), or, when the reply is no success, a
// failure of kind kBadReply holding the reply.
Result<Text> ReadWenxinTokenReply(const Text& reply);

// The two keys of the Wenxin page.
struct WenxinKeys {
    Text apiKey;
    Text secretKey;
};

// The test of the Wenxin page: a token from the two keys, then one generation request with the
// sample question, whose answer nobody reads. A token reply without success is logged, and the
// generation request still goes out with an empty token. Both requests share one header block,
// which the first completes with the default lines (its Referer names the token URL). Each
// exchange is waited for the caller's way; the refusal goes to `log`.
void WenxinTest(const WenxinKeys& keys, const Deployment& deployment, const ExchangeWait& wait, const LogSink& log);

}  // namespace qj

#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string_view>

#include "services/rate_limits.h"
#include "services/retry_policy.h"
#include "services/token_usage.h"
#include "text/types.h"

namespace qj {

// The interfaces a user may choose: one and two ask completion services (relays, long gone), three
// a chat-completion service.
enum class Interface { kOne, kTwo, kThree };

// What one interface made of one keyword.
struct GenerationOutcome {
    bool ok = false;         // the reply is a success
    Text text;               // the generated text, trimmed
    Text errorDetail;        // logged after "错误信息：" on failure; empty: no such line
    bool cancelled = false;  // the exchange was aborted by the stop flag
    // The interface cannot work, with its settings or with none of its endpoints left (every keyword
    // would fail the same way): the keyword goes back into the list, errorDetail (when not empty) is
    // logged and the run ends.
    bool unusableSettings = false;

    int status = 0;                        // HTTP status of the reply; 0 when there was none
    std::optional<int> retryAfterSeconds;  // the reply's Retry-After, when it carried one
    bool transient = false;                // no reply, a time-out, 429 or 5xx: a later try may work
    bool rateLimited = false;              // "too many requests" (429, not a used-up quota): all workers hold back
    // This endpoint would answer every keyword the same way for now: a refused key (401, 403), a
    // used-up quota or balance (402, or the reply says so), an unknown address or model (404), a
    // proxy that refuses or cannot be reached.
    bool endpointUnusable = false;
    std::optional<TokenUsage> usage;  // when the service reported what it counted
    RateLimits rateLimits;            // the budgets the reply announced

    Text finishReason;  // why the model stopped, as the reply said ("stop", "length"...); empty when it did not
    // The provider's review refused the content (a finish reason or an error reply saying so): the
    // same endpoint would refuse it again, another one may not.
    bool reviewRefused = false;
    Text endpoint;     // who answered last, as the run log names it ("端点2"); empty: the interface alone
    int requests = 0;  // requests made for this outcome, every try counted
};

// What a request for a keyword asks beyond its prompt: a hint appended to the prompt, and for a
// chat service the continuation of an article cut off at the model's length limit (the article so
// far as the assistant's message, then the continuation prompt as the user's).
struct FollowUp {
    Text hint;                // on a line of its own after the prompt; empty: none
    Text written;             // the article so far
    Text continuationPrompt;  // empty: no continuation
};

// Turns a keyword into an outcome; `cancel` aborts the exchange when it becomes true.
using Generator =
    std::function<GenerationOutcome(const Text& keyword, const Text& key, const std::atomic<bool>* cancel)>;

// Whether a reply status (0: no reply at all) is worth another try later.
inline bool IsTransientStatus(int status) {
    return status == 0 || status == 408 || status == 429 || status >= 500;
}

// Sets `status`, `transient`, `rateLimited` and `endpointUnusable` of an outcome from the reply's
// status and text.
inline void ClassifyStatus(GenerationOutcome& outcome, int status, std::string_view reply) {
    outcome.status = status;
    const bool quotaUsedUp = status == 429 && SaysQuotaIsUsedUp(reply);
    outcome.transient = IsTransientStatus(status) && !quotaUsedUp;
    outcome.rateLimited = status == 429 && !quotaUsedUp;
    const bool refused = status == 401 || status == 402 || status == 403 || status == 404;
    outcome.endpointUnusable = refused || quotaUsedUp || (status >= 400 && status < 500 && SaysQuotaIsUsedUp(reply));
}

}  // namespace qj

#pragma once

#include <atomic>

#include "http/http_instance.h"
#include "publishing/site.h"
#include "text/types.h"

namespace qj::publishing {

// One exchange with a site.
struct SiteExchange {
    int method = 0;       // a method code of http/default_headers.h
    Text url;             // GBK; characters beyond ASCII are sent as UTF-8 escapes
    Bytes body;           // sent byte for byte
    Text headers;         // extra request lines, CR LF between them
    Text* cookies = nullptr;  // in/out: the session's cookie jar
};

struct SiteAnswer {
    int status = 0;
    Bytes body;
    Text headers;
};

// How long a site may stay silent before the exchange counts as failed.
inline constexpr int kSiteTimeoutSeconds = 60;

// Sends the exchange. A site that gave no answer is a transient failure (one that may have made the
// post, for a POST); a stop is kStopped. Any answer, whatever its status, is the value.
SiteResult<SiteAnswer> Send(const SiteExchange& exchange, HttpInstance& http, const std::atomic<bool>* stop);

// The failure an answer's status stands for: 401, 403 and 407 refuse the program (kRefused); 408,
// 425, 429 and 5xx are transient (a 5xx to a POST may have made the post); any other is kRejected.
// `reason` is the site's own words, put in front of the status.
SiteFailure FailureOf(const SiteAnswer& answer, const Text& reason, bool post);

// "（HTTP 404）".
Text StatusText(int status);

}  // namespace qj::publishing

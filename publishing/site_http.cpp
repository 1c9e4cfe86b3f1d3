#include "publishing/site_http.h"

#include "http/default_headers.h"
#include "http/http_request.h"

namespace qj::publishing {

SiteResult<SiteAnswer> Send(const SiteExchange& exchange, HttpInstance& http, const std::atomic<bool>* stop) {
    HttpRequestParams params;
    params.url = exchange.url;
    params.method = exchange.method;
    params.bodyBytes = exchange.body;
    params.headers = exchange.headers;
    if (exchange.cookies) {
        params.cookies = *exchange.cookies;
    }
    params.timeoutSeconds = kSiteTimeoutSeconds;
    params.reuseInstance = &http;
    params.cancel = stop;
    Result<HttpResponse> reply = HttpRequest(params);
    if ((stop && stop->load()) || (!reply && reply.error().kind == ErrorKind::kCancelled)) {
        return SiteFailure{SiteFailure::Kind::kStopped, "任务已停止", exchange.method == kMethodPost, {}};
    }
    if (!reply) {
        return SiteFailure{SiteFailure::Kind::kTransient, "网站没有回答：" + reply.error().reason,
                           exchange.method == kMethodPost, {}};
    }
    if (exchange.cookies) {
        *exchange.cookies = reply->cookies;
    }
    return SiteAnswer{reply->status, std::move(reply->body), std::move(reply->headers)};
}

Text StatusText(int status) {
    return "（HTTP " + std::to_string(status) + "）";
}

SiteFailure FailureOf(const SiteAnswer& answer, const Text& reason, bool post) {
    const int status = answer.status;
    SiteFailure failure{SiteFailure::Kind::kRejected, reason + StatusText(status), false, answer.headers};
    if (status == 401 || status == 403 || status == 407) {
        failure.kind = SiteFailure::Kind::kRefused;
    } else if (status == 408 || status == 425 || status == 429 || status >= 500) {
        failure.kind = SiteFailure::Kind::kTransient;
        failure.maybeCreated = post && status >= 500;
    }
    return failure;
}

}  // namespace qj::publishing

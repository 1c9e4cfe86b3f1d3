#include "publishing/site_http.h"

#include "http/default_headers.h"
#include "http/http_request.h"

namespace qj::publishing {

SiteResult<SiteAnswer> Send(const SiteExchange& exchange, HttpInstance& http, const std::atomic<bool>* stop) {
    SiteAnswer answer;
    Text headers = exchange.headers;
    Text transferError;
    HttpRequestParams params;
    params.url = exchange.url;
    params.method = exchange.method;
    params.bodyBytes = exchange.body;
    params.headers = &headers;
    params.cookies = exchange.cookies;
    params.responseHeaders = &answer.headers;
    params.status = &answer.status;
    params.timeoutSeconds = kSiteTimeoutSeconds;
    params.reuseInstance = &http;
    params.cancel = stop;
    params.transferError = &transferError;
    answer.body = HttpRequest(params);
    if (stop && stop->load()) {
        return SiteFailure{SiteFailure::Kind::kStopped, "任务已停止", exchange.method == kMethodPost, {}};
    }
    if (answer.status == 0) {
        return SiteFailure{SiteFailure::Kind::kTransient, "网站没有回答：" + transferError,
                           exchange.method == kMethodPost, {}};
    }
    return answer;
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

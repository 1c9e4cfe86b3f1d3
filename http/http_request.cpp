#include "http/http_request.h"

#include <memory>

#include "http/base64.h"
#include "http/cookie_jar.h"
#include "http/default_headers.h"
#include "http/header_block.h"
#include "http/timeout_policy.h"
#include "http/transfer.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr int kProxyCredentials = 1;

// Sets the request lines of a header block, in order; the keep-alive Connection line is left to
// the transport, which keeps connections open by itself, and lines without a colon name nothing.
// Returns the name of the first line that was refused (a name that is no HTTP token, or a value
// with CR, LF or a zero byte), nullopt when every line was taken.
std::optional<Text> SetBlockHeaders(RequestHeaders& headers, std::string_view block) {
    std::optional<Text> refused;
    const auto set = [&](std::string_view line) {
        if (FindText(line, ":") == kNotFound) {
            return;
        }
        const Text name = HeaderName(line);
        const Text value = HeaderValue(line);
        if (name == "Connection" && value == "keep-alive") {
            return;
        }
        if (!headers.Set(name, value) && !refused) {
            refused = name;
        }
    };
    if (FindText(block, "\r\n") == kNotFound) {
        set(block);
        return refused;
    }
    for (const Text& line : SplitText(block, "\r\n")) {
        set(line);
    }
    return refused;
}

Text CleanCookies(const Text& cookies) {
    if (!cookies.empty() && FindText(cookies, "Cookie:", 0, true) != kNotFound) {
        return RemoveEveryIgnoreCase(cookies, "Cookie:");
    }
    return cookies;
}

Error Failure(const HttpRequestParams& params, ErrorKind kind, Text reason) {
    return Error{.kind = kind, .where = params.url, .reason = std::move(reason)};
}

Result<HttpResponse> RunRequest(const HttpRequestParams& params) {
    const int method = EffectiveMethod(params.method.value_or(kMethodGet));
    const int credentialTarget = params.credentialTarget.value_or(kProxyCredentials);
    const bool mergeCookies = params.mergeCookies.value_or(true);

    std::unique_ptr<HttpInstance> ownInstance;
    HttpInstance* instance = params.reuseInstance;
    if (!instance) {
        ownInstance = std::make_unique<HttpInstance>();
        if (!ownInstance->Valid()) {
            return Failure(params, ErrorKind::kNoReply, "no transfer handle");
        }
        instance = ownInstance.get();
    }

    // Settings written here stay with a reused handle.
    HttpInstance::Settings& settings = instance->settings();
    if (const std::optional<int> timeoutMs = TimeoutMilliseconds(params.timeoutSeconds.value_or(0))) {
        settings.timeoutMs = timeoutMs;
    }
    const Text proxy = params.proxy.value_or(Text());
    if (!proxy.empty()) {
        settings.proxy = proxy;
    }
    if (params.noRedirect.value_or(false)) {
        settings.followRedirects = false;
    }

    TransferPlan plan;
    plan.method = method;
    plan.url = params.url;
    plan.cancel = params.cancel;
    plan.onResponseStart = params.onResponseStart;
    plan.bodyProgress = params.bodyProgress;
    plan.proxyTunnel = params.proxyTunnel.value_or(false);

    std::optional<Text> refused;
    const Text proxyUser = params.proxyUser.value_or(Text());
    if (!proxy.empty() && !proxyUser.empty()) {
        const Text password = params.proxyPassword.value_or(Text());
        plan.credentials = TransferPlan::Credentials{proxyUser, password, credentialTarget};
        if (credentialTarget == kProxyCredentials &&
            !plan.proxyHeaders.Set("Proxy-Authorization", "Basic " + Base64Encode(proxyUser + ":" + password))) {
            refused = "Proxy-Authorization";
        }
    }

    const Text cookies = RequestCookies(params);
    if (params.cookies && !plan.headers.Set("Cookie", cookies) && !refused) {
        refused = "Cookie";
    }
    if (std::optional<Text> refusedLine = SetBlockHeaders(plan.headers, RequestHeaderBlock(params));
        refusedLine && !refused) {
        refused = std::move(refusedLine);
    }

    if (params.bodyBytes && !params.bodyBytes->empty()) {
        plan.body = *params.bodyBytes;
    } else if (params.body) {
        plan.body = GbkToWire(*params.body);
    }
    // POST and PUT always carry a body, if only an empty one; other verbs only a non-empty one.
    plan.sendsBody = method != kMethodHead && (!plan.body.empty() || method == kMethodPost || method == kMethodPut);

    // A line that cannot go on the wire is not left out quietly: without it (a key, a cookie) the
    // request could only fail in a way nobody understands, so it is not sent at all.
    if (refused) {
        return Failure(params, ErrorKind::kRefusedHeader, *refused);
    }
    TransferResult result = PerformTransfer(*instance, plan);
    if (!result.ok && !result.refusedByProxy) {
        const ErrorKind kind = params.cancel && params.cancel->load() ? ErrorKind::kCancelled
                               : result.proxyUnreachable               ? ErrorKind::kProxyUnreachable
                                                                       : ErrorKind::kNoReply;
        return Failure(params, kind, std::move(result.error));
    }
    HttpResponse response;
    response.status = result.status;
    response.headers = std::move(result.responseHeaders);
    response.body = std::move(result.body);
    response.refusedByProxy = result.refusedByProxy;
    response.cookies = ExtractCookies(response.headers);
    if (mergeCookies && params.cookies) {
        Text jar = cookies;
        response.cookies = MergeCookies(jar, response.cookies);
    }
    return response;
}

}  // namespace

Text RequestHeaderBlock(const HttpRequestParams& params) {
    Text block = params.headers;
    if (params.addDefaultHeaders.value_or(true)) {
        AddDefaultHeaders(block, params.url, EffectiveMethod(params.method.value_or(kMethodGet)));
    }
    if (params.normalizeHeaderNames.value_or(true)) {
        block = NormalizeHeaderBlock(block);
    }
    return block;
}

Text RequestCookies(const HttpRequestParams& params) {
    return CleanCookies(params.cookies.value_or(Text()));
}

Result<HttpResponse> HttpRequest(const HttpRequestParams& params) {
    try {
        return RunRequest(params);
    } catch (...) {
        // Only memory exhaustion can get here; the caller sees an ordinary failure.
        return Failure(params, ErrorKind::kNoReply, Text());
    }
}

}  // namespace qj

#include "http/http_request.h"

#include <memory>

#include "http/base64.h"
#include "http/cookie_jar.h"
#include "http/default_headers.h"
#include "http/header_block.h"
#include "http/text_rules.h"
#include "http/timeout_policy.h"
#include "http/transfer.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr int kProxyCredentials = 1;

// The request lines of a header block, in order; the keep-alive Connection line is left to the
// transport, which keeps connections open by itself.
void SetBlockHeaders(RequestHeaders& headers, std::string_view block) {
    if (FindText(block, "\r\n") == kNotFound) {
        headers.Set(HeaderName(block), HeaderValue(block));
        return;
    }
    for (const Text& line : SplitText(block, "\r\n")) {
        if (line.empty()) {
            continue;
        }
        const Text name = HeaderName(line);
        const Text value = HeaderValue(line);
        if (name == "Connection" && value == "keep-alive") {
            continue;
        }
        headers.Set(name, value);
    }
}

Bytes RunRequest(HttpRequestParams& params) {
    const int method = EffectiveMethod(params.method.value_or(kMethodGet));
    const int credentialTarget = params.credentialTarget.value_or(kProxyCredentials);
    const bool mergeCookies = params.mergeCookies.value_or(true);
    const bool addDefaultHeaders = params.addDefaultHeaders.value_or(true);
    const bool normalizeHeaderNames = params.normalizeHeaderNames.value_or(true);

    std::unique_ptr<HttpInstance> ownInstance;
    HttpInstance* instance = params.reuseInstance;
    if (!instance) {
        ownInstance = std::make_unique<HttpInstance>();
        if (!ownInstance->Valid()) {
            if (params.transferError) {
                *params.transferError = "no transfer handle";
            }
            return {};
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

    Text ownHeaders;
    Text& block = params.headers ? *params.headers : ownHeaders;
    if (addDefaultHeaders) {
        AddDefaultHeaders(block, params.url, method);
    }
    if (normalizeHeaderNames) {
        block = NormalizeHeaderBlock(block);
    }

    TransferPlan plan;
    plan.method = method;
    plan.url = params.url;
    plan.cancel = params.cancel;

    const Text proxyUser = params.proxyUser.value_or(Text());
    if (!proxy.empty() && !proxyUser.empty()) {
        const Text password = params.proxyPassword.value_or(Text());
        plan.credentials = TransferPlan::Credentials{proxyUser, password, credentialTarget};
        if (credentialTarget == kProxyCredentials) {
            plan.proxyHeaders.Set("Proxy-Authorization", "Basic " + Base64Encode(proxyUser + ":" + password));
        }
    }

    if (params.cookies) {
        Text& cookies = *params.cookies;
        if (!cookies.empty() && FindText(cookies, "Cookie:", 0, true) != kNotFound) {
            cookies = RemoveEveryIgnoreCase(cookies, "Cookie:");
        }
        plan.headers.Set("Cookie", cookies);
    }
    SetBlockHeaders(plan.headers, block);

    if (params.bodyBytes && !params.bodyBytes->empty()) {
        plan.body = *params.bodyBytes;
    } else if (params.body) {
        plan.body = GbkToWire(*params.body);
    }
    // POST and PUT always carry a body, if only an empty one; other verbs only a non-empty one.
    plan.sendsBody = method != kMethodHead && (!plan.body.empty() || method == kMethodPost || method == kMethodPut);

    TransferResult result = PerformTransfer(*instance, plan);

    if (params.responseHeaders) {
        *params.responseHeaders = result.responseHeaders;
    }
    if (params.status) {
        *params.status = result.status;
    }
    Text collected = ExtractCookies(result.responseHeaders);
    if (mergeCookies && params.cookies) {
        collected = MergeCookies(*params.cookies, collected);
    }
    if (params.cookiesOut) {
        *params.cookiesOut = collected;
    }
    if (params.transferError) {
        *params.transferError = result.error;
    }
    return std::move(result.body);
}

}  // namespace

Bytes HttpRequest(HttpRequestParams& params) {
    try {
        return RunRequest(params);
    } catch (...) {
        // Only memory exhaustion can get here; the caller sees an ordinary failure.
        if (params.status) {
            *params.status = 0;
        }
        return {};
    }
}

}  // namespace qj

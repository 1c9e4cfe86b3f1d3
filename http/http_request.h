#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string_view>

#include "http/http_instance.h"
#include "platform/result.h"
#include "text/types.h"

namespace qj {

// The parameters of one exchange. An omitted parameter (nullopt, nullptr) is told apart from one
// passed as zero or empty. Text is GBK.
struct HttpRequestParams {
    Text url;                           // absolute http or https URL; also the default Referer
    std::optional<int> method;          // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE,
                                        // 7 CONNECT; other codes and omitted: GET
    std::optional<Text> body;           // sent as UTF-8 when bodyBytes is empty (never with HEAD;
                                        // POST and PUT send an empty body, other verbs none)
    std::optional<Text> cookies;        // sent as the Cookie header ("Cookie:" inside is removed)
    Text headers;                       // extra request lines, CR LF between them (see RequestHeaderBlock)
    std::optional<bool> noRedirect;     // true: redirects are not followed (stays with a reused handle)
    std::optional<Bytes> bodyBytes;     // sent byte for byte; wins over body when not empty
    std::optional<Text> proxy;          // "host:port"; empty: no proxy (stays with a reused handle)
    std::optional<int> timeoutSeconds;  // omitted or below 1: 15 s; -1: keep the handle's time-outs
    std::optional<Text> proxyUser;
    // true: the exchange goes through a tunnel the proxy opens (CONNECT) also to an http server, so
    // that the proxy neither sees nor holds back the request and its reply. Default false.
    std::optional<bool> proxyTunnel;
    std::optional<Text> proxyPassword;
    std::optional<int> credentialTarget;       // 0 server, 1 proxy (default; also sends Proxy-Authorization)
    HttpInstance* reuseInstance = nullptr;     // omitted: a new handle for this request only
    std::optional<bool> mergeCookies;          // default true
    std::optional<bool> addDefaultHeaders;     // default true
    std::optional<bool> normalizeHeaderNames;  // default true
    // When set and it turns true, the exchange is abandoned at once (a failure of kind kCancelled).
    const std::atomic<bool>* cancel = nullptr;
    // Called once, on the calling thread, when the body of the final response begins, with its
    // status and header lines: a streamed reply tells its headers long before it ends.
    std::function<void(int status, const Text& responseHeaders)> onResponseStart;
    // When set, bytes of the body count as activity against the idle time-out only when it returns
    // true for them (a stream's keep-alive comments are no progress). It gets every piece in order,
    // on some thread of the exchange, and keeps its own state: it may be called after the exchange
    // was given up.
    std::function<bool(std::string_view bodyBytes)> bodyProgress;
};

// The reply to one exchange.
struct HttpResponse {
    int status = 0;
    Text headers;  // the final response's header lines
    Bytes body;    // byte for byte
    // The cookies the reply set, merged into the ones sent unless mergeCookies is false.
    Text cookies;
    // With a proxy: the status is the proxy's own refusal of the tunnel to an https server (its
    // credentials refused, the server unreachable from it), not the server's answer.
    bool refusedByProxy = false;
};

// The request header block as an exchange with these parameters sends it: the extra lines with the
// default lines added and the names normalised, as asked.
Text RequestHeaderBlock(const HttpRequestParams& params);

// The cookies as an exchange with these parameters sends them ("Cookie:" removed).
Text RequestCookies(const HttpRequestParams& params);

// One complete, synchronous HTTP or HTTPS exchange. Certificate errors are ignored; redirects are
// followed (at most 10; POST becomes GET on 301, 302 and 303) unless noRedirect. Time-outs bound
// connecting and every stretch without a byte moved, never the whole exchange. A failure is never
// thrown or printed; its `where` is the URL and it is one of:
//   kNoReply           no reply: no connection, a time-out, a transfer broken off (the transport's
//                      words in `reason`);
//   kCancelled         `cancel` turned true;
//   kRefusedHeader     a request header line had to be refused (its value holds CR, LF or a zero
//                      byte, or its name is no HTTP token): nothing was sent; its name in `reason`;
//   kProxyUnreachable  with a proxy: no connection through it could be made (its name unknown, the
//                      connection refused or timed out, the tunnel request unanswered within the
//                      proxy's set-up time (see ProxySetUpMs), answered with something that is no
//                      HTTP reply, or the connection closed), so nothing reached the server.
// Any status is a reply, not a failure. Calls on different threads share nothing.
[[nodiscard]] Result<HttpResponse> HttpRequest(const HttpRequestParams& params);

}  // namespace qj

#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_instance.h"
#include "http/request_headers.h"
#include "text/types.h"

namespace qj {

// Everything one exchange puts on the wire, gathered by HttpRequest.
struct TransferPlan {
    struct Credentials {
        Text user;
        Text password;
        int target = 1;  // 0: the server's, 1: the proxy's; other values set nothing
    };

    int method = 0;  // a method code of 0..7
    Text url;
    Bytes body;
    bool sendsBody = false;
    RequestHeaders headers;
    RequestHeaders proxyHeaders;  // sent to the proxy only
    bool proxyTunnel = false;     // CONNECT also to an http server
    std::optional<Credentials> credentials;
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int status, const Text& responseHeaders)> onResponseStart;  // see HttpRequestParams
    std::function<bool(std::string_view bodyBytes)> bodyProgress;                  // see HttpRequestParams
};

// A reply larger than this is refused rather than exhausting memory.
inline constexpr std::size_t kMaxResponseBytes = std::size_t{1} << 30;

struct TransferResult {
    bool ok = false;
    Bytes body;
    Text responseHeaders;           // the final response's lines
    int status = 0;                 // 0 when there was no reply
    std::string error;              // why the exchange failed; empty on success
    bool proxyUnreachable = false;  // a proxy was set and nothing could be made through it (see HttpRequestParams)
    bool refusedByProxy = false;    // the status is the proxy's answer to the tunnel request
};

// Runs one exchange on the instance's handles with its settings (time-outs, proxy, redirects).
// Never throws. A failure gives empty body and headers and status 0, except that a proxy refusing
// the tunnel reports its own status and header lines.
[[nodiscard]] TransferResult PerformTransfer(HttpInstance& instance, const TransferPlan& plan);

}  // namespace qj

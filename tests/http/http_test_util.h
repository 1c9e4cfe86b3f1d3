#pragma once

#include <string>
#include <vector>

#include "http/cookie_jar.h"
#include "http/http_request.h"

namespace qj::test {

// The UTF-8 bytes of a u8 literal (narrow literals of these tests are GBK).
inline std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// The header lines a request carries on the wire, given the lines the program writes. WinHttp, the
// Windows transport, adds "Connection: Keep-Alive" to a request without a Connection line and
// writes an empty value as "Name: "; neither can be switched off.
inline std::vector<std::string> OnTheWire(std::vector<std::string> lines) {
#ifdef _WIN32
    bool connection = false;
    for (std::string& line : lines) {
        if (line.back() == ':') {
            line.push_back(' ');
        }
        connection |= line.rfind("Connection:", 0) == 0 || line.rfind("connection:", 0) == 0;
    }
    if (!connection) {
        lines.emplace_back("Connection: Keep-Alive");
    }
#endif
    return lines;
}

// One request and what came of it, in fields: the reply's parts after a reply, the failure's after
// a failure, and the texts the request sends (its header block, its cookies) either way.
struct Exchange {
    HttpRequestParams params;
    Text headers;  // in: the extra request lines; after Run: the block as the request sent it
    Text responseHeaders;
    int status = -1;
    Text error;  // the failure's reason (the transport's words); empty after a reply
    Text refusedHeader;
    bool proxyUnreachable = false;
    bool refusedByProxy = false;
    Text* cookies = nullptr;     // in: the jar sent; after Run: the jar the reply leaves
    Text* cookiesOut = nullptr;  // after Run: the reply's cookies (merged into the jar, as asked)

    explicit Exchange(std::string url) { params.url = std::move(url); }

    Bytes Run() {
        params.headers = headers;
        if (cookies) {
            params.cookies = *cookies;
        }
        headers = RequestHeaderBlock(params);
        const Result<HttpResponse> reply = HttpRequest(params);
        Text collected;
        if (reply) {
            status = reply->status;
            responseHeaders = reply->headers;
            refusedByProxy = reply->refusedByProxy;
            error.clear();
            collected = reply->cookies;
        } else {
            status = 0;
            responseHeaders.clear();
            error = reply.error().kind == ErrorKind::kRefusedHeader
                        ? "request header line refused (line break, zero byte or bad name): " + reply.error().reason
                        : reply.error().reason;
            refusedHeader = reply.error().kind == ErrorKind::kRefusedHeader ? reply.error().reason : Text();
            proxyUnreachable = reply.error().kind == ErrorKind::kProxyUnreachable;
        }
        if (cookies) {
            Text jar = RequestCookies(params);
            if (!reply && params.mergeCookies.value_or(true)) {
                collected = MergeCookies(jar, collected);
            } else if (reply && params.mergeCookies.value_or(true)) {
                jar = collected;
            }
            *cookies = jar;
        }
        if (cookiesOut) {
            *cookiesOut = collected;
        }
        return reply ? reply->body : Bytes();
    }
};

}  // namespace qj::test

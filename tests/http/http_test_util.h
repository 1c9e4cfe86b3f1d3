#pragma once

#include <string>
#include <vector>

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

// Parameters for a request whose out-parameters all land in this record.
struct Exchange {
    HttpRequestParams params;
    Text headers;
    Text responseHeaders;
    int status = -1;
    Text error;

    explicit Exchange(std::string url) {
        params.url = std::move(url);
        params.headers = &headers;
        params.responseHeaders = &responseHeaders;
        params.status = &status;
        params.transferError = &error;
    }
    Bytes Run() { return HttpRequest(params); }
};

}  // namespace qj::test

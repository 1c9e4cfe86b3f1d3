#pragma once

#include <string>

#include "http/http_request.h"

namespace qj::test {

// The UTF-8 bytes of a u8 literal (narrow literals of these tests are GBK).
inline std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
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

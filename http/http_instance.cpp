#include "http/http_instance.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/signals.h"

namespace qj {

void HttpGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // The transport is told not to touch signals itself, since threads share it.
        IgnoreBrokenPipes();
    });
}

HttpInstance::HttpInstance() {
    HttpGlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
}

HttpInstance::~HttpInstance() {
    if (multi_) {
        curl_multi_cleanup(static_cast<CURLM*>(multi_));
    }
    if (easy_) {
        curl_easy_cleanup(static_cast<CURL*>(easy_));
    }
}

}  // namespace qj

#include "http/http_instance.h"

#include <curl/curl.h>
#include <signal.h>

#include <mutex>

namespace qj {

void HttpGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // A peer that hangs up while a request is written must fail that request, not end the
        // program; the transport is told not to touch signals itself, since threads share it.
        struct sigaction current = {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
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

#include "http/http_instance.h"

#include <curl/curl.h>

#include <mutex>

#include "http/curl_handles.h"
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

HttpInstance::HttpInstance() : handles_(std::make_unique<Handles>()) {
    HttpGlobalInit();
    handles_->easy = curl_easy_init();
    handles_->multi = curl_multi_init();
}

HttpInstance::~HttpInstance() {
    if (handles_->multi) {
        curl_multi_cleanup(handles_->multi);
    }
    if (handles_->easy) {
        curl_easy_cleanup(handles_->easy);
    }
}

bool HttpInstance::Valid() const {
    return handles_->easy != nullptr && handles_->multi != nullptr;
}

}  // namespace qj

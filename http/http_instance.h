#pragma once

#include <optional>

#include "text/types.h"

namespace qj {

// Sets up the HTTP transport of the process and ignores SIGPIPE unless the program handles it
// already. Call it once at start-up before any other thread runs; later calls do nothing.
// HttpInstance calls it too, for callers that forgot.
void HttpGlobalInit();

// A reusable request handle. A request made with it leaves its open connections and the settings
// it wrote (time-out, proxy, redirects switched off) with the handle, and the next request made with
// the same handle starts from them. One handle must not serve two requests at the same time;
// different handles share nothing.
class HttpInstance {
public:
    // What a request writes into the handle and the next one inherits.
    struct Settings {
        std::optional<int> timeoutMs;  // nullopt: the handle's default time-outs
        Text proxy;                    // empty: no proxy
        bool followRedirects = true;
    };

    HttpInstance();
    ~HttpInstance();
    HttpInstance(const HttpInstance&) = delete;
    HttpInstance& operator=(const HttpInstance&) = delete;

    // False when the transport could not create its handles; every request made with it fails.
    bool Valid() const { return easy_ != nullptr && multi_ != nullptr; }

    Settings& settings() { return settings_; }

    // The transport's handles (a libcurl easy and multi handle), for the transfer code.
    void* easyHandle() const { return easy_; }
    void* multiHandle() const { return multi_; }

private:
    void* easy_ = nullptr;
    void* multi_ = nullptr;
    Settings settings_;
};

}  // namespace qj

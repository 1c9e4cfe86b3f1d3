#pragma once

#include <memory>
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
    bool Valid() const;

    Settings& settings() { return settings_; }

    // The transport's own handles, defined by the transport (a libcurl easy and multi handle, or a
    // WinHttp session).
    struct Handles;
    Handles& handles() const { return *handles_; }

private:
    std::unique_ptr<Handles> handles_;
    Settings settings_;
};

}  // namespace qj

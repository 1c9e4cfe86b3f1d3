#pragma once

#include <map>
#include <memory>
#include <string>

#include "http/http_instance.h"

namespace qj {

struct HttpInstance::Handles {
    // A WinHttp session (HINTERNET). It is shared with the exchanges that run on it: one that was
    // abandoned may still be unwinding on its own thread after the instance is gone, and the last
    // holder closes the session.
    std::shared_ptr<void> session;
    // WinHttp takes the proxy from the session: one session for each proxy the handle was used
    // with, opened when first needed.
    std::map<std::string, std::shared_ptr<void>> proxySessions;

    // The session for a proxy ("host:port", empty: none); empty when it could not be opened.
    std::shared_ptr<void> SessionFor(const std::string& proxy);
};

// A new WinHttp session, through the proxy "host:port" when one is given, without User-Agent;
// empty on failure.
std::shared_ptr<void> OpenWinHttpSession(const std::string& proxy = {});

}  // namespace qj

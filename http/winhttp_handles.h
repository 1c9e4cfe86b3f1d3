#pragma once

#include <memory>

#include "http/http_instance.h"

namespace qj {

struct HttpInstance::Handles {
    // A WinHttp session (HINTERNET). It is shared with the exchanges that run on it: one that was
    // abandoned may still be unwinding on its own thread after the instance is gone, and the last
    // holder closes the session.
    std::shared_ptr<void> session;
};

// A new WinHttp session without a proxy, User-Agent or automatic redirects; empty on failure.
std::shared_ptr<void> OpenWinHttpSession();

}  // namespace qj

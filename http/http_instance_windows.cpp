#include "http/http_instance.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <winhttp.h>

#include "http/winhttp_handles.h"

namespace qj {

void HttpGlobalInit() {
    // WinHttp needs no set-up for the process, and Windows raises no signal on a broken pipe.
}

std::shared_ptr<void> OpenWinHttpSession() {
    // No agent: the program writes its own User-Agent line or none at all.
    HINTERNET session =
        WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        return {};
    }
    return std::shared_ptr<void>(session, [](void* handle) { WinHttpCloseHandle(handle); });
}

HttpInstance::HttpInstance() : handles_(std::make_unique<Handles>()) {
    handles_->session = OpenWinHttpSession();
}

HttpInstance::~HttpInstance() = default;

bool HttpInstance::Valid() const {
    return handles_->session != nullptr;
}

}  // namespace qj

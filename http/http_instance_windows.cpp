#include "http/http_instance.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <winhttp.h>

#include "http/winhttp_handles.h"

namespace qj {

void HttpGlobalInit() {
    // WinHttp needs no set-up for the process, and Windows raises no signal on a broken pipe.
}

std::shared_ptr<void> OpenWinHttpSession(const std::string& proxy) {
    // No agent: the program writes its own User-Agent line or none at all.
    const std::wstring proxyName(proxy.begin(), proxy.end());
    HINTERNET session =
        proxy.empty()
            ? WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
            : WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyName.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        return {};
    }
    return std::shared_ptr<void>(session, [](void* handle) { WinHttpCloseHandle(handle); });
}

std::shared_ptr<void> HttpInstance::Handles::SessionFor(const std::string& proxy) {
    if (proxy.empty()) {
        return session;
    }
    std::shared_ptr<void>& opened = proxySessions[proxy];
    if (!opened) {
        opened = OpenWinHttpSession(proxy);
    }
    return opened;
}

HttpInstance::HttpInstance() : handles_(std::make_unique<Handles>()) {
    handles_->session = OpenWinHttpSession();
}

HttpInstance::~HttpInstance() = default;

bool HttpInstance::Valid() const {
    return handles_->session != nullptr;
}

}  // namespace qj

#include "http/transfer.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "http/default_headers.h"
#include "http/response_headers.h"
#include "http/timeout_policy.h"
#include "http/url.h"
#include "http/winhttp_handles.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr long kCancelPollMs = 50;
constexpr long kIdlePollMs = 1000;
constexpr DWORD kChunkBytes = 64 * 1024;

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

std::string NarrowUtf8(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                             utf8.data(), static_cast<int>(utf8.size()), nullptr,
                                                             nullptr)));
    return utf8;
}

std::string ErrorText(const char* step, DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:
            return std::string(step) + ": timed out";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return std::string(step) + ": could not resolve the host name";
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return std::string(step) + ": could not connect";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return std::string(step) + ": the connection was reset or closed";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return std::string(step) + ": the reply is no HTTP response";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return std::string(step) + ": the TLS handshake failed";
        default:
            return std::string(step) + " failed (error " + std::to_string(error) + ")";
    }
}

// What one exchange's caller and its worker thread share. The caller waits on it and may give up
// at any moment (cancel, time-out); the worker then finishes on its own and touches nothing else.
struct Exchange {
    std::mutex mutex;
    std::condition_variable wake;

    bool connecting = true;  // the request has not gone out yet
    long long phaseStart = 0;
    long long lastActivity = 0;

    bool bodyStarted = false;  // the first bytes of the final response's body are in
    int startStatus = 0;
    Text startHeaders;

    bool done = false;
    TransferResult result;

    // A blocking WinHttp call can only be cut short by closing its handle from another thread.
    bool abandoned = false;
    HINTERNET inCall = nullptr;
    HINTERNET closedByCaller = nullptr;

    void Touch() {
        std::lock_guard lock(mutex);
        lastActivity = NowMs();
    }
};

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The header lines of a reply, parsed from WinHttp's CR LF text.
struct ReplyHead {
    int status = 0;
    ResponseHeaderCollector collector;
    std::vector<std::string> lines;  // UTF-8, "Name: value" as received

    std::optional<std::string> Value(std::string_view name) const {
        for (const std::string& line : lines) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos && SameHeaderName(TrimAscii(std::string_view(line).substr(0, colon),
                                                                       kSpaceAndTab),
                                                             name)) {
                return std::string(TrimAscii(std::string_view(line).substr(colon + 1), kSpaceAndTab));
            }
        }
        return std::nullopt;
    }
};

// Everything the worker needs, copied: the caller's objects may be gone before it ends.
struct Job {
    std::shared_ptr<void> session;
    TransferPlan plan;  // without cancel and onResponseStart
    HttpInstance::Settings settings;
    TimeoutPolicy policy;
    std::string url;  // wire form
};

class Worker {
public:
    Worker(std::shared_ptr<Exchange> exchange, Job job) : ex_(std::move(exchange)), job_(std::move(job)) {}

    void Run() {
        TransferResult result;
        try {
            result = RunAll();
        } catch (...) {
            result = TransferResult();
            result.error = "out of memory";
        }
        std::lock_guard lock(ex_->mutex);
        ex_->result = std::move(result);
        ex_->done = true;
        ex_->wake.notify_all();
    }

private:
    struct Hop {
        UniqueHandle connection;
        HINTERNET request = nullptr;
        ReplyHead head;
        bool throughTunnel = false;
    };

    bool Abandoned() {
        std::lock_guard lock(ex_->mutex);
        return ex_->abandoned;
    }

    // Runs one blocking call on `request`, which the caller may close meanwhile. False when the
    // call failed (`error_` says why) or the caller gave up.
    template <class Call>
    bool Blocking(HINTERNET request, Call&& call) {
        {
            std::lock_guard lock(ex_->mutex);
            if (ex_->abandoned) {
                return false;
            }
            ex_->inCall = request;
        }
        const BOOL ok = call();
        error_ = ok ? 0 : GetLastError();
        std::lock_guard lock(ex_->mutex);
        ex_->inCall = nullptr;
        ex_->lastActivity = NowMs();
        return ok && !ex_->abandoned;
    }

    void CloseRequest(HINTERNET& request) {
        if (!request) {
            return;
        }
        {
            std::lock_guard lock(ex_->mutex);
            if (ex_->closedByCaller == request) {
                request = nullptr;
                return;
            }
        }
        WinHttpCloseHandle(request);
        request = nullptr;
    }

    TransferResult Failure(std::string error) {
        TransferResult failed;
        failed.error = std::move(error);
        return failed;
    }

    TransferResult RunAll() {
        std::string url = job_.url;
        int method = job_.plan.method;
        Bytes body = job_.plan.body;
        bool sendsBody = job_.plan.sendsBody;
        std::vector<std::pair<std::string, std::string>> headers = WireHeaderPairs(job_.plan.headers);
        std::optional<std::string> firstHost;
        for (int redirects = 0;; ++redirects) {
            const std::optional<UrlParts> parts = SplitUrl(url);
            if (!parts) {
                return Failure("not an http or https URL");
            }
            if (!firstHost) {
                firstHost = parts->host;
            } else if (*firstHost != parts->host) {
                // Another host is not sent the lines meant for the first: its name, credentials
                // and cookies.
                std::erase_if(headers, [](const auto& line) {
                    return SameHeaderName(line.first, "Host") || SameHeaderName(line.first, "Authorization") ||
                           SameHeaderName(line.first, "Cookie");
                });
            }
            Hop hop;
            TransferResult failed;
            const bool sent = SendAndReceive(*parts, method, body, sendsBody, headers, hop, failed);
            if (!sent) {
                CloseRequest(hop.request);
                return failed;
            }
            const std::optional<std::string> location = hop.head.Value("Location");
            if (job_.settings.followRedirects && IsFollowedRedirect(hop.head.status) && location) {
                CloseRequest(hop.request);
                if (redirects == kMaxRedirects) {
                    return Failure("maximum (" + std::to_string(kMaxRedirects) + ") redirects followed");
                }
                const std::optional<std::string> next = ResolveRedirect(url, *location);
                if (!next) {
                    return Failure("redirect to a URL that is not http or https");
                }
                if (RedirectDropsBody(method, hop.head.status)) {
                    method = kMethodGet;
                    body.clear();
                    sendsBody = false;
                }
                url = *next;
                std::lock_guard lock(ex_->mutex);
                ex_->connecting = true;
                ex_->phaseStart = NowMs();
                continue;
            }
            TransferResult result = ReadBody(method, hop);
            CloseRequest(hop.request);
            return result;
        }
    }

    bool SendAndReceive(const UrlParts& parts, int method, const Bytes& body, bool sendsBody,
                        const std::vector<std::pair<std::string, std::string>>& headers, Hop& hop,
                        TransferResult& failed) {
        const std::string proxyText = GbkToWire(job_.settings.proxy);
        std::optional<UrlParts> proxy;
        if (!proxyText.empty()) {
            proxy = SplitUrl("http://" + proxyText);
            if (!proxy) {
                failed = Failure("bad proxy address");
                failed.proxyUnreachable = true;
                return false;
            }
        }
        // An https server behind a proxy is reached through the tunnel WinHttp opens (CONNECT).
        // Any other request to a proxy goes to it directly in absolute form, with the Host line
        // and the proxy's own lines, exactly as the Linux build writes them.
        const bool forward = proxy && !parts.secure;
        hop.throughTunnel = proxy && parts.secure;
        const UrlParts& peer = forward ? *proxy : parts;
        hop.connection.reset(WinHttpConnect(job_.session.get(), Widen(peer.host).c_str(),
                                            static_cast<INTERNET_PORT>(peer.port), 0));
        if (!hop.connection) {
            failed = Failure(ErrorText("connection handle", GetLastError()));
            return false;
        }
        const std::wstring verb = Widen(VerbOfMethod(method));
        const std::wstring object = Widen(forward ? parts.Absolute() : parts.target);
        DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
        if (parts.secure) {
            flags |= WINHTTP_FLAG_SECURE;
        }
        hop.request = WinHttpOpenRequest(hop.connection.get(), verb.c_str(), object.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (!hop.request) {
            failed = Failure(ErrorText("request handle", GetLastError()));
            return false;
        }
        Configure(hop, proxy);

        std::vector<std::pair<std::string, std::string>> lines;
        const auto has = [&](std::string_view name) {
            return std::any_of(headers.begin(), headers.end(),
                               [&](const auto& line) { return SameHeaderName(line.first, name); });
        };
        if (forward && !has("Host")) {
            lines.emplace_back("Host", parts.HostPort());
        }
        lines.insert(lines.end(), headers.begin(), headers.end());
        if (forward) {
            for (const auto& [name, value] : job_.plan.proxyHeaders.Lines()) {
                lines.emplace_back(name, GbkToWire(value));
            }
        }
        if (sendsBody) {
            lines.emplace_back("Content-Length", std::to_string(body.size()));
        }
        for (const auto& [name, value] : lines) {
            const std::wstring line = Widen(name + ": " + value);
            // An empty value with REPLACE would remove the line instead of sending it empty.
            const DWORD mode = value.empty() ? WINHTTP_ADDREQ_FLAG_ADD : WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;
            if (!WinHttpAddRequestHeaders(hop.request, line.c_str(), static_cast<DWORD>(line.size()), mode)) {
                failed = Failure("request header line not taken: " + name);
                return false;
            }
        }

        bool triedServerCredentials = false;
        while (true) {
            if (!Send(hop, body, sendsBody, proxy.has_value(), failed)) {
                return false;
            }
            if (!Blocking(hop.request, [&] { return WinHttpReceiveResponse(hop.request, nullptr); })) {
                failed = Failure(ErrorText("waiting for the reply", error_));
                return false;
            }
            ReadHead(hop);
            const std::optional<TransferPlan::Credentials>& credentials = job_.plan.credentials;
            if (hop.head.status == 401 && credentials && credentials->target == 0 && !triedServerCredentials) {
                triedServerCredentials = true;
                if (SetServerCredentials(hop.request, *credentials)) {
                    continue;
                }
            }
            break;
        }
        if (hop.throughTunnel && hop.head.status >= 300 && !TunnelEstablished(hop.request)) {
            // The proxy answered the tunnel request itself: that reply is the only one there is.
            failed = Failure("the proxy refused the tunnel (HTTP " + std::to_string(hop.head.status) + ")");
            failed.status = hop.head.status;
            failed.responseHeaders = hop.head.collector.Block();
            failed.refusedByProxy = true;
            return false;
        }
        return true;
    }

    void Configure(Hop& hop, const std::optional<UrlParts>& proxy) {
        HINTERNET request = hop.request;
        // Certificates are not checked: unknown authorities, wrong names and dates are accepted.
        DWORD security = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                         SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security);
        // Redirects are followed here, by the same rules as on Linux; cookies are the caller's.
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
        DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);

        std::wstring proxyName;
        WINHTTP_PROXY_INFO info{};
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        if (hop.throughTunnel) {
            proxyName = Widen(proxy->HostPort(true));
            info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
            info.lpszProxy = proxyName.data();
            info.lpszProxyBypass = const_cast<wchar_t*>(L"");
        }
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
        if (hop.throughTunnel && job_.plan.credentials && job_.plan.credentials->target == 1) {
            const std::wstring user = Widen(GbkToWire(job_.plan.credentials->user));
            const std::wstring password = Widen(GbkToWire(job_.plan.credentials->password));
            WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                                  password.c_str(), nullptr);
        }

        // WinHttp's own limits back up the watchdog, so that an abandoned exchange ends too.
        const int connectMs = static_cast<int>(job_.policy.resolveAndConnectMs > 0 ? job_.policy.resolveAndConnectMs
                                                                                   : job_.policy.connectMs);
        const int idleMs = static_cast<int>(job_.policy.idleMs);
        WinHttpSetTimeouts(request, connectMs, connectMs, idleMs, idleMs);
    }

    bool Send(Hop& hop, const Bytes& body, bool sendsBody, bool viaProxy, TransferResult& failed) {
        {
            std::lock_guard lock(ex_->mutex);
            ex_->connecting = true;
            ex_->phaseStart = NowMs();
        }
        const DWORD total = sendsBody ? static_cast<DWORD>(body.size()) : 0;
        const bool sent = Blocking(hop.request, [&] {
            return WinHttpSendRequest(hop.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total,
                                      0);
        });
        if (!sent) {
            failed = Failure(ErrorText("sending the request", error_));
            failed.proxyUnreachable = viaProxy && !Abandoned() &&
                                      (error_ == ERROR_WINHTTP_CANNOT_CONNECT ||
                                       error_ == ERROR_WINHTTP_NAME_NOT_RESOLVED || error_ == ERROR_WINHTTP_TIMEOUT ||
                                       error_ == WSAETIMEDOUT);
            return false;
        }
        {
            std::lock_guard lock(ex_->mutex);
            ex_->connecting = false;
            ex_->lastActivity = NowMs();
        }
        // The body goes in pieces, so that the watchdog sees it move.
        for (std::size_t at = 0; sendsBody && at < body.size();) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(kChunkBytes, body.size() - at));
            DWORD written = 0;
            if (!Blocking(hop.request, [&] {
                    return WinHttpWriteData(hop.request, body.data() + at, piece, &written);
                })) {
                failed = Failure(ErrorText("sending the body", error_));
                return false;
            }
            at += written;
        }
        return true;
    }

    void ReadHead(Hop& hop) {
        hop.head = ReplyHead();
        DWORD status = 0;
        DWORD size = sizeof status;
        WinHttpQueryHeaders(hop.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        hop.head.status = static_cast<int>(status);
        size = 0;
        WinHttpQueryHeaders(hop.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                            WINHTTP_NO_HEADER_INDEX);
        std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
        if (!WinHttpQueryHeaders(hop.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                                 &size, WINHTTP_NO_HEADER_INDEX)) {
            raw.clear();
        }
        raw.resize(size / sizeof(wchar_t));
        const std::string text = NarrowUtf8(raw);
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string_view line = std::string_view(text).substr(at, end - at);
            hop.head.collector.OnLine(line);
            if (!line.empty() && !line.starts_with("HTTP/")) {
                hop.head.lines.emplace_back(line);
            }
            at = end + 2;
        }
        hop.head.collector.OnLine("");
    }

    bool SetServerCredentials(HINTERNET request, const TransferPlan::Credentials& credentials) {
        DWORD supported = 0;
        DWORD first = 0;
        DWORD target = 0;
        if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) {
            return false;
        }
        DWORD scheme = 0;
        for (const DWORD candidate : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM,
                                      WINHTTP_AUTH_SCHEME_DIGEST, WINHTTP_AUTH_SCHEME_BASIC}) {
            if ((supported & candidate) != 0) {
                scheme = candidate;
                break;
            }
        }
        const std::wstring user = Widen(GbkToWire(credentials.user));
        const std::wstring password = Widen(GbkToWire(credentials.password));
        return scheme != 0 && WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, scheme, user.c_str(),
                                                    password.c_str(), nullptr);
    }

    // Whether the reply came from the server through the tunnel: a server behind TLS showed its
    // certificate, a proxy refusing the tunnel did not get that far.
    static bool TunnelEstablished(HINTERNET request) {
        const CERT_CONTEXT* certificate = nullptr;
        DWORD size = sizeof certificate;
        if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) || !certificate) {
            return false;
        }
        CertFreeCertificateContext(certificate);
        return true;
    }

    TransferResult ReadBody(int method, Hop& hop) {
        const int status = hop.head.status;
        std::optional<unsigned long long> declared;
        const bool bodyless = method == kMethodHead || status == 204 || status == 304 || (status >= 100 && status < 200);
        if (const std::optional<std::string> length = hop.head.Value("Content-Length");
            length && !bodyless && !hop.head.Value("Transfer-Encoding")) {
            try {
                declared = std::stoull(*length);
            } catch (...) {
                return Failure("the reply's Content-Length is no number");
            }
            if (*declared > kMaxResponseBytes) {
                return Failure("response body too large");
            }
        }
        Bytes body;
        std::string buffer(kChunkBytes, '\0');
        while (!bodyless) {
            DWORD read = 0;
            if (!Blocking(hop.request, [&] {
                    return WinHttpReadData(hop.request, buffer.data(), kChunkBytes, &read);
                })) {
                return Failure(ErrorText("reading the reply", error_));
            }
            if (read == 0) {
                break;
            }
            if (body.size() + read > kMaxResponseBytes) {
                return Failure("response body too large");
            }
            body.append(buffer.data(), read);
            std::lock_guard lock(ex_->mutex);
            if (!ex_->bodyStarted) {
                ex_->bodyStarted = true;
                ex_->startStatus = status;
                ex_->startHeaders = hop.head.collector.Block();
                ex_->wake.notify_all();
            }
        }
        // WinHttp reports a reply cut off before its announced length as complete.
        if (declared && body.size() != *declared) {
            return Failure("transfer closed with " + std::to_string(*declared - std::min<unsigned long long>(
                                                                                  *declared, body.size())) +
                           " bytes remaining to read");
        }
        TransferResult result;
        result.ok = true;
        result.body = std::move(body);
        result.responseHeaders = hop.head.collector.Block();
        result.status = status;
        return result;
    }

    std::shared_ptr<Exchange> ex_;
    Job job_;
    DWORD error_ = 0;
};

TransferResult Failure(std::string error) {
    TransferResult result;
    result.error = std::move(error);
    return result;
}

// Gives up on the exchange: its worker is left to end by itself, its blocking call cut short where
// WinHttp allows it.
void Abandon(Exchange& ex) {
    ex.abandoned = true;
    if (ex.inCall) {
        WinHttpCloseHandle(ex.inCall);
        ex.closedByCaller = ex.inCall;
        ex.inCall = nullptr;
    }
}

}  // namespace

TransferResult PerformTransfer(HttpInstance& instance, const TransferPlan& plan) {
    try {
        if (!instance.Valid()) {
            return Failure("no transfer handle");
        }
        std::optional<std::string> url = WireUrl(plan.url);
        if (!url || !SplitUrl(*url)) {
            return Failure("not an http or https URL");
        }
        Job job;
        job.session = instance.handles().session;
        job.plan = plan;
        job.plan.cancel = nullptr;
        job.plan.onResponseStart = nullptr;
        job.settings = instance.settings();
        job.policy = TimeoutPolicyFor(job.settings.timeoutMs);
        job.url = std::move(*url);
        const TimeoutPolicy policy = job.policy;
        const bool viaProxy = !job.settings.proxy.empty();

        auto ex = std::make_shared<Exchange>();
        ex->phaseStart = ex->lastActivity = NowMs();
        std::thread([ex, job = std::move(job)]() mutable { Worker(ex, std::move(job)).Run(); }).detach();

        std::unique_lock lock(ex->mutex);
        bool reported = false;
        while (true) {
            if (ex->bodyStarted && !reported && plan.onResponseStart) {
                reported = true;
                const int status = ex->startStatus;
                const Text headers = ex->startHeaders;
                lock.unlock();
                bool thrown = false;
                try {
                    plan.onResponseStart(status, headers);
                } catch (...) {
                    thrown = true;
                }
                lock.lock();
                if (thrown) {
                    Abandon(*ex);
                    return Failure("the reply was refused by its reader");
                }
                continue;
            }
            if (ex->done) {
                return std::move(ex->result);
            }
            if (plan.cancel && plan.cancel->load()) {
                Abandon(*ex);
                return Failure("cancelled");
            }
            const long long now = NowMs();
            long waitMs = plan.cancel ? kCancelPollMs : kIdlePollMs;
            const long connectLimit = policy.resolveAndConnectMs > 0 ? policy.resolveAndConnectMs : policy.connectMs;
            if (ex->connecting && connectLimit > 0) {
                const long elapsed = static_cast<long>(now - ex->phaseStart);
                if (elapsed >= connectLimit) {
                    Abandon(*ex);
                    TransferResult failed = Failure("connection timed out after " + std::to_string(elapsed) + " ms");
                    failed.proxyUnreachable = viaProxy;
                    return failed;
                }
                waitMs = std::min(waitMs, connectLimit - elapsed);
            }
            if (!ex->connecting && policy.idleMs > 0) {
                const long idle = static_cast<long>(now - ex->lastActivity);
                if (idle >= policy.idleMs) {
                    Abandon(*ex);
                    return Failure("no data moved for " + std::to_string(idle) + " ms");
                }
                waitMs = std::min(waitMs, policy.idleMs - idle);
            }
            ex->wake.wait_for(lock, std::chrono::milliseconds(std::max(waitMs, 1L)));
        }
    } catch (...) {
        return Failure("out of memory or no thread for the exchange");
    }
}

}  // namespace qj

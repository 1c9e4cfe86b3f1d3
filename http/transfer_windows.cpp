#include "http/transfer.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "http/default_headers.h"
#include "http/response_headers.h"
#include "http/timeout_policy.h"
#include "http/tunnel_relay_windows.h"
#include "http/url.h"
#include "http/winhttp_handles.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

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

// Header lines cross the WinHttp API as wide characters. WinHttp puts a request's lines on the wire
// as UTF-8 (whatever the system's code page), so the program's lines, UTF-8 already, go in as the
// characters they encode and come out byte for byte. A reply's lines come back decoded through the
// ANSI code page (GBK on Chinese Windows), and encoding them through it again gives their bytes:
// every byte under a Western code page, every character under code page 936 (a UTF-8 or GBK value
// alike, as long as its bytes pair up as GBK's do).
std::string HeaderFromWide(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    std::string bytes(wide.size() * 2, '\0');
    bytes.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                                              bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                                              nullptr)));
    return bytes;
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

// The proxy's "host:port" as the session names it. WinHttp writes the request in absolute form only
// when the proxy's name differs from the server's (under Wine it compares the two names), so a
// proxy on the server's own host is named in another spelling of the same address: an IPv4
// address as one decimal number, a host name with the root's dot.
std::string ProxySpelling(const UrlParts& proxy, const std::string& serverHost) {
    if (proxy.host != serverHost) {
        return proxy.HostPort(true);
    }
    unsigned long long value = 0;
    int parts = 0;
    std::size_t at = 0;
    while (at <= proxy.host.size() && parts < 4) {
        const std::size_t end = std::min(proxy.host.find('.', at), proxy.host.size());
        const std::string_view part = std::string_view(proxy.host).substr(at, end - at);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos) {
            break;
        }
        const int number = std::stoi(std::string(part));
        if (number > 255) {
            break;
        }
        value = value * 256 + static_cast<unsigned long long>(number);
        ++parts;
        at = end + 1;
    }
    if (parts == 4 && at == proxy.host.size() + 1) {
        return std::to_string(value) + ":" + std::to_string(proxy.port);
    }
    if (proxy.host.find(':') != std::string::npos) {
        return proxy.HostPort(true);  // IPv6: no other spelling
    }
    return proxy.host + ".:" + std::to_string(proxy.port);
}

// What one exchange's caller and its worker thread share. The caller waits on it and may give up
// at any moment (cancel, time-out); the worker then finishes on its own and touches nothing else.
struct Exchange {
    std::mutex mutex;
    std::condition_variable wake;

    bool connecting = true;  // the request has not gone out yet
    long long phaseStart = 0;
    long long lastActivity = 0;
    // The body is under way and the plan judges which of its bytes are progress: reading alone is
    // then no activity.
    bool judgingBody = false;
    // The relay is still opening the tunnel through the proxy: the exchange is still connecting.
    bool tunnelOpening = false;

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

// Progress WinHttp reports while a call of the worker blocks: the request went out, bytes of the
// reply came in. Runs on the worker's thread.
void CALLBACK OnProgress(HINTERNET, DWORD_PTR context, DWORD status, void*, DWORD) {
    auto* ex = reinterpret_cast<Exchange*>(context);
    if (!ex) {
        return;
    }
    std::lock_guard lock(ex->mutex);
    if (status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT) {
        ex->connecting = false;
    }
    if ((status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT || status == WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED ||
         status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER) &&
        !ex->judgingBody) {
        ex->lastActivity = NowMs();
    }
}

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
    TransferPlan plan;  // without cancel and onResponseStart; bodyProgress is called on the worker
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
        // Destroyed last: the handles below use them.
        std::unique_ptr<TunnelRelay> relay;
        std::shared_ptr<void> session;
        UniqueHandle connection;
        HINTERNET request = nullptr;
        ReplyHead head;
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
        if (!ex_->judgingBody) {
            ex_->lastActivity = NowMs();
        }
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
        // Through a proxy, an https server (and any server when a tunnel is asked for) is reached
        // through a tunnel the relay opens; any other request goes to the proxy in absolute form,
        // with the proxy's own lines added here.
        const bool tunnel = proxy && (parts.secure || job_.plan.proxyTunnel);
        const bool forward = proxy && !tunnel;
        hop.session = job_.session;
        if (tunnel) {
            std::vector<std::string> proxyLines;
            for (const auto& [name, value] : job_.plan.proxyHeaders.Lines()) {
                proxyLines.push_back(name + ": " + GbkToWire(value));
            }
            {
                std::lock_guard lock(ex_->mutex);
                ex_->tunnelOpening = true;
            }
            Exchange* ex = ex_.get();  // outlives the relay, which this worker owns
            hop.relay = std::make_unique<TunnelRelay>(proxy->host, proxy->port, std::move(proxyLines),
                                                      ProxySetUpMs(job_.policy), [ex] {
                                                          std::lock_guard lock(ex->mutex);
                                                          ex->tunnelOpening = false;
                                                          ex->lastActivity = NowMs();
                                                      });
            UrlParts relay;
            relay.host = "127.0.0.1";
            relay.port = hop.relay->port();
            hop.session = relay.port > 0 ? OpenWinHttpSession(ProxySpelling(relay, parts.host)) : nullptr;
            if (!hop.session) {
                failed = Failure("no relay for the proxy tunnel");
                return false;
            }
        }
        hop.connection.reset(WinHttpConnect(hop.session.get(), Widen(parts.host).c_str(),
                                            static_cast<INTERNET_PORT>(parts.port), 0));
        if (!hop.connection) {
            failed = Failure(ErrorText("connection handle", GetLastError()));
            return false;
        }
        const std::wstring verb = Widen(VerbOfMethod(method));
        const std::wstring object = Widen(parts.target);
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
        Configure(hop);

        std::vector<std::pair<std::string, std::string>> lines;
        const auto has = [&](std::string_view name) {
            return std::any_of(headers.begin(), headers.end(),
                               [&](const auto& line) { return SameHeaderName(line.first, name); });
        };
        // WinHttp would put its Host line behind the program's lines; written here it comes first,
        // where the Linux build has it.
        if (!has("Host")) {
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
                ReportRelay(hop, failed);
                return false;
            }
            if (!Blocking(hop.request, [&] { return WinHttpReceiveResponse(hop.request, nullptr); })) {
                failed = Failure(ErrorText("waiting for the reply", error_));
                ReportRelay(hop, failed);
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
        return true;
    }

    // After a failure on the way through the relay: what the proxy did, when it was the proxy.
    void ReportRelay(const Hop& hop, TransferResult& failed) {
        if (!hop.relay || Abandoned()) {
            return;
        }
        const TunnelRelay::Outcome outcome = hop.relay->outcome();
        if (outcome.refusedStatus > 0) {
            // The proxy answered the tunnel request itself: that reply is the only one there is.
            failed = Failure(outcome.error);
            failed.status = outcome.refusedStatus;
            ResponseHeaderCollector collector;
            for (const std::string& line : outcome.refusedLines) {
                collector.OnLine(line);
            }
            collector.OnLine("");
            failed.responseHeaders = collector.Block();
            failed.refusedByProxy = true;
        } else if (outcome.unreachable) {
            failed = Failure(outcome.error);
            failed.proxyUnreachable = true;
        }
    }

    void Configure(Hop& hop) {
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
        // WinHttp may hold the call until the reply begins: the request going out is told by the
        // progress callback, not by the call's return.
        WinHttpSetStatusCallback(hop.request, OnProgress,
                                 WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE, 0);
        const bool sent = Blocking(hop.request, [&] {
            return WinHttpSendRequest(hop.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total,
                                      reinterpret_cast<DWORD_PTR>(ex_.get()));
        });
        if (!sent) {
            failed = Failure(ErrorText("sending the request", error_));
            failed.proxyUnreachable = viaProxy && !hop.relay && !Abandoned() &&
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
        const std::string text = HeaderFromWide(raw);
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
        if (job_.plan.bodyProgress) {
            std::lock_guard lock(ex_->mutex);
            ex_->judgingBody = true;
        }
        while (!bodyless) {
            // Asked first how much has arrived, so that a read returns what is there rather than
            // waiting for a full buffer: each piece of a slow reply counts as activity.
            DWORD available = 0;
            if (!Blocking(hop.request, [&] { return WinHttpQueryDataAvailable(hop.request, &available); })) {
                return Failure(ErrorText("reading the reply", error_));
            }
            DWORD read = 0;
            if (available > 0 && !Blocking(hop.request, [&] {
                    return WinHttpReadData(hop.request, buffer.data(), std::min(available, kChunkBytes), &read);
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
            const bool progress =
                !job_.plan.bodyProgress || job_.plan.bodyProgress(std::string_view(buffer.data(), read));
            std::lock_guard lock(ex_->mutex);
            if (progress) {
                ex_->lastActivity = NowMs();
            }
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
// WinHttp allows it. The handle is closed without the lock, which WinHttp's callbacks take.
void Abandon(Exchange& ex, std::unique_lock<std::mutex>& lock) {
    ex.abandoned = true;
    HINTERNET inCall = ex.inCall;
    if (inCall) {
        ex.closedByCaller = inCall;
        ex.inCall = nullptr;
    }
    lock.unlock();
    if (inCall) {
        WinHttpCloseHandle(inCall);
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
        std::string proxyName;
        if (!instance.settings().proxy.empty()) {
            std::optional<UrlParts> proxy = SplitUrl("http://" + GbkToWire(instance.settings().proxy));
            if (proxy && !proxy->explicitPort) {
                proxy->port = 1080;  // a proxy's customary port, as libcurl assumes it
            }
            if (!proxy) {
                TransferResult failed = Failure("bad proxy address");
                failed.proxyUnreachable = true;
                return failed;
            }
            proxyName = ProxySpelling(*proxy, SplitUrl(*url)->host);
        }
        job.session = instance.handles().SessionFor(proxyName);
        if (!job.session) {
            return Failure("no transfer handle for the proxy");
        }
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
                    Abandon(*ex, lock);
                    return Failure("the reply was refused by its reader");
                }
                continue;
            }
            if (ex->done) {
                return std::move(ex->result);
            }
            if (plan.cancel && plan.cancel->load()) {
                Abandon(*ex, lock);
                return Failure("cancelled");
            }
            const long long now = NowMs();
            long waitMs = plan.cancel ? kCancelPollMs : kIdlePollMs;
            // Through a proxy, connecting includes opening the tunnel, with the proxy's own limit.
            const long connectLimit = viaProxy                         ? ProxySetUpMs(policy)
                                      : policy.resolveAndConnectMs > 0 ? policy.resolveAndConnectMs
                                                                       : policy.connectMs;
            if ((ex->connecting || ex->tunnelOpening) && connectLimit > 0) {
                const long elapsed = static_cast<long>(now - ex->phaseStart);
                if (elapsed >= connectLimit) {
                    Abandon(*ex, lock);
                    TransferResult failed = Failure("connection timed out after " + std::to_string(elapsed) + " ms");
                    failed.proxyUnreachable = viaProxy;
                    return failed;
                }
                waitMs = std::min(waitMs, connectLimit - elapsed);
            }
            if (!ex->connecting && !ex->tunnelOpening && policy.idleMs > 0) {
                const long idle = static_cast<long>(now - ex->lastActivity);
                if (idle >= policy.idleMs) {
                    Abandon(*ex, lock);
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

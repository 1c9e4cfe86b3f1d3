#include "http/transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "http/curl_handles.h"
#include "http/default_headers.h"
#include "http/response_headers.h"
#include "http/timeout_policy.h"
#include "http/url.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

Slist MakeSlist(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (!grown) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = grown;
    }
    return Slist(list);
}

// The state one transfer's callbacks share with its loop.
struct TransferState {
    TimeoutPolicy policy;
    const std::atomic<bool>* cancel = nullptr;
    ResponseHeaderCollector headers;
    Bytes body;
    bool bodyTooLarge = false;
    CURL* easy = nullptr;
    const std::function<void(int, const Text&)>* onResponseStart = nullptr;
    const std::function<bool(std::string_view)>* bodyProgress = nullptr;
    bool started = false;  // onResponseStart has been called

    bool connecting = false;  // a socket exists, the request cannot go out yet
    bool connected = false;   // the request can go out or is under way
    long long connectStart;
    long long lastActivity;
    curl_off_t lastUploaded = 0;

    void Touch() { lastActivity = NowMs(); }
};

// The first bytes of the final response's body: its header section is whole.
void ReportResponseStart(TransferState& state) {
    state.started = true;
    long status = 0;
    curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
    (*state.onResponseStart)(static_cast<int>(status), state.headers.Block());
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    const size_t length = size * count;
    try {
        if (!*state->bodyProgress || (*state->bodyProgress)(std::string_view(data, length))) {
            state->Touch();
        }
    } catch (...) {
        return 0;
    }
    if (!state->started && state->onResponseStart && *state->onResponseStart) {
        try {
            ReportResponseStart(*state);
        } catch (...) {
            return 0;
        }
    }
    if (state->body.size() + length > kMaxResponseBytes) {
        state->bodyTooLarge = true;
        return 0;
    }
    try {
        state->body.append(data, length);
    } catch (...) {
        state->bodyTooLarge = true;
        return 0;
    }
    return length;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    const size_t length = size * count;
    state->Touch();
    try {
        state->headers.OnLine(std::string_view(data, length));
    } catch (...) {
        return 0;
    }
    return length;
}

int OnSocketCreated(void* user, curl_socket_t, curlsocktype) {
    auto* state = static_cast<TransferState*>(user);
    if (!state->connecting) {
        state->connecting = true;
        state->connected = false;
        state->connectStart = NowMs();
    }
    return CURL_SOCKOPT_OK;
}

int OnReadyToSend(void* user, char*, char*, int, int) {
    auto* state = static_cast<TransferState*>(user);
    state->connecting = false;
    state->connected = true;
    state->Touch();
    return CURL_PREREQFUNC_OK;
}

long MillisecondsSince(long long then, long long now) {
    return static_cast<long>(now - then);
}

// Why the watchdog ends the transfer now, or empty; `waitMs` gets how long the loop may sleep.
std::string CheckWatchdog(TransferState& state, CURL* easy, long& waitMs) {
    const long long now = NowMs();
    waitMs = state.cancel ? kCancelPollMs : kIdlePollMs;
    if (state.cancel && state.cancel->load()) {
        return "cancelled";
    }
    curl_off_t uploaded = 0;
    if (curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK && uploaded != state.lastUploaded) {
        state.lastUploaded = uploaded;
        state.lastActivity = now;
    }
    if (state.connecting && state.policy.connectMs > 0) {
        const long elapsed = MillisecondsSince(state.connectStart, now);
        if (elapsed >= state.policy.connectMs) {
            return "connection timed out after " + std::to_string(elapsed) + " ms";
        }
        waitMs = std::min(waitMs, state.policy.connectMs - elapsed);
    }
    if (state.connected && state.policy.idleMs > 0) {
        const long idle = MillisecondsSince(state.lastActivity, now);
        if (idle >= state.policy.idleMs) {
            return "no data moved for " + std::to_string(idle) + " ms";
        }
        waitMs = std::min(waitMs, state.policy.idleMs - idle);
    }
    waitMs = std::max(waitMs, 1L);
    return {};
}

void SetMethod(CURL* easy, const TransferPlan& plan) {
    if (plan.sendsBody) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(plan.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, plan.body.data());
        // Only POST turns into GET on a 301, 302 or 303; other verbs keep their verb and body.
        curl_easy_setopt(easy, CURLOPT_POSTREDIR, plan.method == kMethodPost ? 0L : long{CURL_REDIR_POST_ALL});
        if (plan.method != kMethodPost) {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, std::string(VerbOfMethod(plan.method)).c_str());
        }
    } else if (plan.method == kMethodHead) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        if (plan.method != kMethodGet) {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, std::string(VerbOfMethod(plan.method)).c_str());
        }
    }
}

void SetCredentials(CURL* easy, const TransferPlan::Credentials& credentials) {
    const std::string user = GbkToWire(credentials.user);
    const std::string password = GbkToWire(credentials.password);
    if (credentials.target == 1) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    } else if (credentials.target == 0) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
}

TransferResult Failure(std::string error) {
    TransferResult result;
    result.error = std::move(error);
    return result;
}

}  // namespace

TransferResult PerformTransfer(HttpInstance& instance, const TransferPlan& plan) {
    try {
        if (!instance.Valid()) {
            return Failure("no transfer handle");
        }
        const std::optional<std::string> url = WireUrl(plan.url);
        if (!url) {
            return Failure("not an http or https URL");
        }
        CURL* easy = instance.handles().easy;
        CURLM* multi = instance.handles().multi;
        const HttpInstance::Settings& settings = instance.settings();

        TransferState state;
        state.policy = TimeoutPolicyFor(settings.timeoutMs);
        state.cancel = plan.cancel;
        state.easy = easy;
        state.onResponseStart = &plan.onResponseStart;
        state.bodyProgress = &plan.bodyProgress;
        char errorBuffer[CURL_ERROR_SIZE] = {};

        Slist headers = MakeSlist(WireHeaderLines(plan.headers, plan.sendsBody));
        std::vector<std::string> proxyLines;
        for (const auto& [name, value] : plan.proxyHeaders.Lines()) {
            proxyLines.push_back(name + ": " + GbkToWire(value));
        }
        proxyLines.emplace_back("Proxy-Connection:");
        Slist proxyHeaders = MakeSlist(proxyLines);
        const std::string proxy = GbkToWire(settings.proxy);

        // However the transfer ends, the handle leaves the loop and drops its options (which point
        // at this frame); connections and caches stay for the next request.
        struct HandleGuard {
            CURL* easy;
            CURLM* multi;
            bool attached = false;
            ~HandleGuard() {
                if (attached) {
                    curl_multi_remove_handle(multi, easy);
                }
                curl_easy_reset(easy);
            }
        } guard{easy, multi};

        curl_easy_setopt(easy, CURLOPT_URL, url->c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1});
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, settings.followRedirects ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
        // Certificates are not checked: unknown authorities, wrong names and dates are accepted.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 0L);
        // An empty proxy also keeps proxy settings of the environment away.
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
        curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, plan.proxyTunnel ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_HEADEROPT, long{CURLHEADER_SEPARATE});
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(easy, CURLOPT_PROXYHEADER, proxyHeaders.get());
        SetMethod(easy, plan);
        if (plan.credentials) {
            SetCredentials(easy, *plan.credentials);
        }
        // Through a proxy the connection phase takes in the tunnel request and the handshakes through
        // the tunnel: a proxy that never answers it ends the exchange after ProxySetUpMs.
        if (!proxy.empty()) {
            curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, ProxySetUpMs(state.policy));
        } else if (state.policy.resolveAndConnectMs > 0) {
            curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, state.policy.resolveAndConnectMs);
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, OnSocketCreated);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &state);
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnReadyToSend);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &state);

        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            return Failure("transfer could not start");
        }
        guard.attached = true;
        std::string abortReason;
        CURLcode code = CURLE_OK;
        bool finished = false;
        bool connectTimedOut = false;
        while (true) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                abortReason = "transfer loop failed";
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    code = message->data.result;
                    finished = true;
                }
            }
            if (finished || running == 0) {
                break;
            }
            long waitMs = 0;
            abortReason = CheckWatchdog(state, easy, waitMs);
            if (!abortReason.empty()) {
                connectTimedOut = state.connecting && !(state.cancel && state.cancel->load());
                break;
            }
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
        }

        long status = 0;
        long connectStatus = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        curl_multi_remove_handle(multi, easy);
        guard.attached = false;

        if (abortReason.empty() && !finished) {
            abortReason = "transfer ended without a result";
        }
        if (abortReason.empty() && state.bodyTooLarge) {
            abortReason = "response body too large";
        }
        if (abortReason.empty() && code == CURLE_OK && !state.headers.Complete()) {
            abortReason = "the reply ended inside its header lines";
        }
        if (abortReason.empty() && code != CURLE_OK) {
            abortReason = errorBuffer[0] != '\0' ? std::string(errorBuffer) : std::string(curl_easy_strerror(code));
        }
        if (!abortReason.empty()) {
            TransferResult failed = Failure(std::move(abortReason));
            if (connectStatus >= 300) {
                // The proxy answered the tunnel request itself: that reply is the only one there is.
                failed.status = static_cast<int>(connectStatus);
                failed.responseHeaders = state.headers.Block();
                failed.refusedByProxy = true;
            } else if (!proxy.empty() && status == 0 && !(state.cancel && state.cancel->load())) {
                // Nothing went to the server while neither the connection to the proxy nor its tunnel
                // could be made: the proxy is unknown, refused, did not answer, answered with something
                // that is no HTTP reply, or closed the connection.
                const bool tunnelOpen = connectStatus >= 200 && connectStatus < 300;
                failed.proxyUnreachable = connectTimedOut || code == CURLE_COULDNT_RESOLVE_PROXY ||
                                          (!state.connected && !tunnelOpen);
            }
            return failed;
        }
        TransferResult result;
        result.ok = true;
        result.body = std::move(state.body);
        result.responseHeaders = state.headers.Block();
        result.status = static_cast<int>(status);
        return result;
    } catch (...) {
        return Failure("out of memory");
    }
}

}  // namespace qj

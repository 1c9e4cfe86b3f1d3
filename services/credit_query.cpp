#include "services/credit_query.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "services/completion.h"
#include "services/chat_key_check.h"
#include "services/success_field.h"
#include "http/http_request.h"
#include "text/text_helpers.h"
#include "window/control_names.h"

namespace qj {

namespace {

constexpr const char* kIdleCaption = "查询余额";
constexpr const char* kFailureText = "余额查询失败，请确认API秘钥正确！";
// Neither service is given a time-out of its own: the transport's defaults apply.
constexpr int kKeepTransportTimeouts = -1;

std::atomic<int> g_runningQueries{0};

CreditRequest InterfaceOneRequest(const Deployment& deployment, const Text& key) {
    return CreditRequest{
        .url = deployment.openAi + "/dashboard/billing/credit_grants",
        .method = 0,
        .body = std::nullopt,
        // The same block as interface one's completions, so the key travels as a bearer token.
        .headers = CompletionHeaders(InterfaceOneProfile(deployment.openAi, deployment.relayOne), key),
    };
}

CreditFigures ReadInterfaceOneReply(const Text& reply) {
    CreditFigures figures;
    figures.ok = FindText(reply, "total_used") != kNotFound;
    if (figures.ok) {
        figures.available = TextBetween(reply, "total_available\":", ",");
        figures.used = TextBetween(reply, "total_used\":", ",");
    }
    return figures;
}

CreditRequest InterfaceTwoRequest(const Deployment& deployment, const Text& key) {
    return CreditRequest{
        .url = deployment.relayTwoApi + "/chat/balance",
        .method = 1,
        .body = "appkey=" + key + "&key=" + kInterfaceTwoKeyField,
        // The length line is the relay's usual one; the transport sends the body's real length instead.
        .headers = "Host: " + HostOfOrigin(deployment.relayTwoApi) +
                   "\r\n"
                   "Connection: keep-alive\r\n"
                   "Content-Length: 93\r\n"
                   "Accept: application/json, text/javascript, */*; q=0.01\r\n"
                   "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
                   "Chrome/86.0.4240.198 Safari/537.36\r\n"
                   "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
                   "Origin: " +
                   deployment.relayTwo +
                   "\r\n"
                   "Sec-Fetch-Site: same-site\r\n"
                   "Sec-Fetch-Mode: cors\r\n"
                   "Sec-Fetch-Dest: empty\r\n"
                   "Referer: " +
                   deployment.relayTwo + "/",
    };
}

CreditFigures ReadInterfaceTwoReply(const Text& reply) {
    CreditFigures figures;
    figures.ok = ReplySaysSuccess(reply);
    if (figures.ok) {
        figures.available = TextBetween(reply, "balance\":", "}");
        // The first key ending in "use" counts, "total_use" among them.
        figures.used = TextBetween(reply, "use\":", ",");
    }
    return figures;
}

void ShowFailure(WindowModel& window) {
    // The caption comes back first: the box waits for the user.
    window.SetText(control::kButtonQueryCredit, kPropCaption, kIdleCaption);
    window.MessageBox(kFailureText, kDefaultMessageCaption, MessageIcon::kNone);
}

}  // namespace

CreditService InterfaceOneCredit() {
    return CreditService{.request = InterfaceOneRequest, .read = ReadInterfaceOneReply};
}

CreditService InterfaceTwoCredit() {
    return CreditService{.request = InterfaceTwoRequest, .read = ReadInterfaceTwoReply};
}

CreditService ChosenCreditService(WindowModel& window) {
    if (window.GetNumber(control::kRadioInterfaceOne, kPropChecked)) {
        return InterfaceOneCredit();
    }
    return InterfaceTwoCredit();
}

Text CreditResultLine(const CreditFigures& figures) {
    return "余额：" + figures.available + " 美元,已使用：" + figures.used + " 美元";
}

Result<Text> SendCreditRequest(const CreditRequest& request) {
    HttpRequestParams params;
    params.url = request.url;
    params.method = request.method;
    params.body = request.body;
    params.headers = request.headers;
    params.timeoutSeconds = kKeepTransportTimeouts;
    const Result<HttpResponse> reply = HttpRequest(params);
    if (!reply) {
        return reply.error();
    }
    return Text(reply->body.c_str());
}

void CreditQuery(WindowModel& window, const Deployment& deployment) {
    // Interface three has no credit figures to ask for: its key is checked against the model list.
    if (window.GetNumber(control::kRadioInterfaceThree, kPropChecked)) {
        const KeyCheckResult check = InterfaceThreeKeyCheck(window, deployment);
        if (!check) {
            ShowFailure(window);
            return;
        }
        window.SetText(control::kLabelCredit, kPropContent, KeyCheckCaption(*check));
        window.SetText(control::kButtonQueryCredit, kPropCaption, kIdleCaption);
        return;
    }
    const CreditService service = ChosenCreditService(window);
    const Text key = window.GetText(control::kEditOpenAiKey, kPropContent);
    const CreditFigures figures = service.read(SendCreditRequest(service.request(deployment, key)).value_or(Text()));
    if (!figures.ok) {
        ShowFailure(window);
        return;
    }
    window.SetText(control::kLabelCredit, kPropContent, CreditResultLine(figures));
    window.SetText(control::kButtonQueryCredit, kPropCaption, kIdleCaption);
}

void StartCreditQuery(WindowModel& window, const Deployment& deployment) {
    ++g_runningQueries;
    try {
        std::thread([&window, deployment] {
            CreditQuery(window, deployment);
            --g_runningQueries;
        }).detach();
    } catch (const std::system_error&) {
        --g_runningQueries;
        ShowFailure(window);
    }
}

int RunningCreditQueries() {
    return g_runningQueries.load();
}

}  // namespace qj

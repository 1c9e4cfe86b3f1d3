#include "services/credit_query.h"

#include <atomic>

#include "services/completion.h"
#include "services/chat_key_check.h"
#include "services/success_field.h"
#include "http/http_request.h"
#include "text/text_helpers.h"
#include "services/chat_completion.h"

namespace qj {

namespace {

// Neither service is given a time-out of its own: the transport's defaults apply.
constexpr int kKeepTransportTimeouts = -1;

CreditRequest InterfaceOneRequest(const Deployment& deployment, const Text& key) {
    return CreditRequest{
        .url = deployment.openAi + "/dashboard/billing/credit_grants",
        .method = 0,
        .body = std::nullopt,
        // The same block as interface one's completions, so the key travels as a bearer token.
        .headers = CompletionHeaders(InterfaceOneProfile(deployment.openAi, deployment.relayOne), key),
    };
}

Error NoSuccess(const Text& reply) {
    return Error{.kind = ErrorKind::kBadReply, .reason = reply};
}

Result<CreditFigures> ReadInterfaceOneReply(const Text& reply) {
    if (FindText(reply, "total_used") == kNotFound) {
        return NoSuccess(reply);
    }
    return CreditFigures{.available = TextBetween(reply, "total_available\":", ","),
                         .used = TextBetween(reply, "total_used\":", ",")};
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

Result<CreditFigures> ReadInterfaceTwoReply(const Text& reply) {
    if (!ReplySaysSuccess(reply)) {
        return NoSuccess(reply);
    }
    // The first key ending in "use" counts, "total_use" among them.
    return CreditFigures{.available = TextBetween(reply, "balance\":", "}"), .used = TextBetween(reply, "use\":", ",")};
}

}  // namespace

CreditService InterfaceOneCredit() {
    return CreditService{.request = InterfaceOneRequest, .read = ReadInterfaceOneReply};
}

CreditService InterfaceTwoCredit() {
    return CreditService{.request = InterfaceTwoRequest, .read = ReadInterfaceTwoReply};
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

Result<Text> CreditQuery(const CreditQueryInputs& inputs) {
    // Interface three has no credit figures to ask for: its key is checked against the model list.
    if (inputs.chosen == Interface::kThree) {
        const KeyCheckResult check =
            InterfaceThreeKeyCheck(inputs.chatBaseUrl, inputs.key, DefaultChatBaseUrl(inputs.deployment));
        if (!check) {
            return check.error();
        }
        return KeyCheckCaption(*check);
    }
    const CreditService service = inputs.chosen == Interface::kOne ? InterfaceOneCredit() : InterfaceTwoCredit();
    const CreditRequest request = service.request(inputs.deployment, inputs.key);
    const Result<Text> reply = SendCreditRequest(request);
    if (!reply) {
        return reply.error();
    }
    Result<CreditFigures> figures = service.read(*reply);
    if (!figures) {
        Error noSuccess = figures.error();
        noSuccess.where = request.url;
        return noSuccess;
    }
    return CreditResultLine(*figures);
}

}  // namespace qj

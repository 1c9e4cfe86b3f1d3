#include "services/wenxin_client.h"

#include "services/success_field.h"
#include "http/http_request.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kSampleQuestion = "枸杞一天吃多少粒最好";
constexpr const char* kGenerationParameters =
    "&async=1&typeId=1&seq_len=512&min_dec_len=2&topp=0.8&task_prompt=qa&penalty_score=1.2&is_unidirectional=0"
    "&min_dec_penalty_text=。?：！[<S>]&mask_type=word";
constexpr const char* kTokenFailureLine = "获取accessToken失败，请确认API Key和 Secret key是否正确！";

// One POST with the shared header block, waited for the caller's way; the reply up to its first
// zero byte (empty when there is none).
Text Post(const ExchangeWait& wait, const Text& url, const Text& body, Text& headers) {
    Bytes reply;
    WaitFor(wait, [&] {
        HttpRequestParams params;
        params.url = url;
        params.method = 1;
        params.body = body;
        params.headers = headers;
        // The block as it went, default lines added: the next request shares it.
        headers = RequestHeaderBlock(params);
        reply = HttpRequest(params).value_or(HttpResponse()).body;
    });
    return Text(reply.c_str());
}

}  // namespace

Text WenxinTokenUrl(const Deployment& deployment) {
    return deployment.wenxin + "/moduleApi/portal/api/oauth/token";
}

Text WenxinGenerationUrlPrefix(const Deployment& deployment) {
    return deployment.wenxin + "/moduleApi/portal/api/rest/1.0/ernie/3.0.25/zeus?access_token=";
}

Text WenxinTokenBody(const Text& apiKey, const Text& secretKey) {
    return "grant_type=client_credentials&client_id=" + apiKey + "&client_secret=" + secretKey;
}

Text WenxinGenerationBody() {
    return "text=" + UrlEncode(kSampleQuestion, true, false) + kGenerationParameters;
}

Result<Text> ReadWenxinTokenReply(const Text& reply) {
    if (!ReplySaysSuccess(reply)) {
        return Error{.kind = ErrorKind::kBadReply, .reason = reply};
    }
    return TextBetween(reply, "data\":\"", "\"");
}

void WenxinTest(const WenxinKeys& keys, const Deployment& deployment, const ExchangeWait& wait, const LogSink& log) {
    Text headers = kWenxinHeaderBlock;
    const Result<Text> token = ReadWenxinTokenReply(
        Post(wait, WenxinTokenUrl(deployment), WenxinTokenBody(keys.apiKey, keys.secretKey), headers));
    if (!token && log) {
        log(kTokenFailureLine);
    }
    Post(wait, WenxinGenerationUrlPrefix(deployment) + token.value_or(Text()), WenxinGenerationBody(), headers);
}

}  // namespace qj

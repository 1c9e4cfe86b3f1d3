#include "notices/notice_sources.h"

#include <mutex>

#include "http/base64.h"
#include "http/http_request.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kAdvertPath = "/zhanzhang/guanggao.txt";
constexpr const char* kVersionPath = "/zhanzhang/version.txt";
constexpr int kAdvertTimeoutSeconds = 3;

struct EncodedSources {
    Text mainSite;
    Text secondarySite;
    NoticeSource adverts;
    NoticeSource version;
};

EncodedSources Encode(const Deployment& deployment) {
    EncodedSources sources;
    sources.mainSite = deployment.mainSite;
    sources.secondarySite = deployment.secondarySite;
    sources.adverts = NoticeSource{
        .primary = Base64Encode(deployment.secondarySite + kAdvertPath),
        .fallback = Base64Encode(deployment.mainSite + kAdvertPath),
        .builtIn = Base64Encode(BuiltInAdvertText(deployment.mainSite)),
        .timeoutSeconds = kAdvertTimeoutSeconds,
    };
    sources.version = NoticeSource{
        .primary = Base64Encode(deployment.secondarySite + kVersionPath),
        .fallback = Base64Encode(deployment.mainSite + kVersionPath),
        .builtIn = Base64Encode(BuiltInVersionNotice(deployment.mainSite)),
        .timeoutSeconds = std::nullopt,
    };
    return sources;
}

// The sites are known only once the deployment is read, so the sources are encoded on first use,
// and again only if the sites change.
EncodedSources SourcesFor(const Deployment& deployment) {
    static std::mutex mutex;
    static std::optional<EncodedSources> cached;
    std::lock_guard lock(mutex);
    if (!cached || cached->mainSite != deployment.mainSite || cached->secondarySite != deployment.secondarySite) {
        cached = Encode(deployment);
    }
    return *cached;
}

Text Get(const ExchangeWait& wait, const Text& encodedAddress, std::optional<int> timeoutSeconds) {
    Bytes reply;
    WaitFor(wait, [&] {
        HttpRequestParams params;
        params.url = Base64Decode(encodedAddress);
        params.timeoutSeconds = timeoutSeconds;
        reply = HttpRequest(params).value_or(HttpResponse()).body;
    });
    return Text(reply.c_str());
}

}  // namespace

NoticeSource AdvertNoticeSource(const Deployment& deployment) {
    return SourcesFor(deployment).adverts;
}

NoticeSource VersionNoticeSource(const Deployment& deployment) {
    return SourcesFor(deployment).version;
}

Text BuiltInAdvertText(const Text& mainSite) {
    return "青笺官方网站：批量文章生成，最新版本免费下载----" + mainSite +
           "/\r\n"
           "岚舟关键词挖掘工具：长尾关键词批量挖掘，一键导出----" +
           mainSite +
           "/tools/keywords.html\r\n"
           "岚舟伪原创助手：段落重组与同义词替换，批量处理----" +
           mainSite + "/tools/rewrite.html";
}

Text BuiltInVersionNotice(const Text& mainSite) {
    return "请勿使用其他盗版，破解版。\r\n\r\n官方正版产品纯绿色软件，请放心使用。\r\n\r\n官方网站：" + mainSite;
}

bool IsUnusableNotice(const Text& text) {
    return text.empty() || FindText(text, "404") != kNotFound;
}

Text FetchNoticeText(const NoticeSource& source, const ExchangeWait& wait) {
    Text text = Get(wait, source.primary, source.timeoutSeconds);
    if (IsUnusableNotice(text)) {
        text = Get(wait, source.fallback, source.timeoutSeconds);
    }
    if (IsUnusableNotice(text)) {
        text = Base64Decode(source.builtIn);
    }
    return text;
}

}  // namespace qj

#include "publishing/form_site.h"

#include <ctime>

#include "http/default_headers.h"
#include "platform/local_time.h"
#include "publishing/schedule.h"
#include "publishing/site_http.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

Text Joined(const TextList& names) {
    Text joined;
    for (const Text& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined;
}

long long LocalSeconds() {
    const std::tm now = LocalTime(std::time(nullptr));
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &now);
    return ParseSiteTime(buffer).value_or(0);
}

Text Escaped(const Text& title) {
    Text out = ReplaceAll(title, "&", "&amp;");
    out = ReplaceAll(out, "<", "&lt;");
    out = ReplaceAll(out, ">", "&gt;");
    return out;
}

}  // namespace

bool PageShowsTitle(const Text& page, const Text& title) {
    if (title.empty()) {
        return false;
    }
    const Text escaped = Escaped(title);
    for (const Text& form : {title, escaped, ReplaceAll(escaped, "\"", "&quot;"), ReplaceAll(escaped, "\"", "&#34;"),
                             ReplaceAll(escaped, "'", "&#039;")}) {
        if (FindText(page, form) != kNotFound) {
            return true;
        }
    }
    return false;
}

FormSite::FormSite(FormProfile profile, const std::atomic<bool>* stop) : profile_(std::move(profile)), stop_(stop) {}

Text FormSite::PageText(const SiteAnswer& answer) const {
    Text contentType;
    for (const Text& line : SplitText(answer.headers, "\r\n")) {
        if (FindText(line, "Content-Type:", 0, true) == 0) {
            contentType = line;
        }
    }
    bool utf8 = profile_.encoding == FormEncoding::kUtf8;
    if (FindText(contentType, "charset=utf-8", 0, true) != kNotFound) {
        utf8 = true;
    } else if (FindText(contentType, "charset=gb", 0, true) != kNotFound) {
        utf8 = false;
    }
    return utf8 && IsCleanUtf8(answer.body) ? WireToGbk(answer.body) : Text(answer.body);
}

SiteResult<SiteAnswer> FormSite::Submit(const FormStep& step, const FormValues& values, HttpInstance& http) {
    SiteExchange exchange;
    exchange.method = step.post ? kMethodPost : kMethodGet;
    exchange.url = step.url;
    const FormBody body = BuildFormBody(step.fields, values, profile_.encoding,
                                        step.post ? profile_.format : FormFormat::kUrlEncoded);
    if (step.post) {
        exchange.body = body.bytes;
        exchange.headers = "Content-Type: " + body.contentType;
    } else if (!body.bytes.empty()) {
        exchange.url += (exchange.url.find('?') == Text::npos ? "?" : "&") + body.bytes;
    }
    Text cookies;
    {
        std::lock_guard lock(sessionMutex_);
        cookies = cookies_;
    }
    exchange.cookies = &cookies;
    SiteResult<SiteAnswer> answer = Send(exchange, http, stop_);
    if (answer.ok()) {
        std::lock_guard lock(sessionMutex_);
        cookies_ = cookies;
    }
    return answer;
}

std::optional<SiteFailure> FormSite::LogIn(HttpInstance& http) {
    if (!profile_.login) {
        return std::nullopt;
    }
    SiteResult<SiteAnswer> answer = Submit(*profile_.login, {}, http);
    if (!answer.ok()) {
        return answer.failure();
    }
    if (answer.value().status >= 400) {
        return FailureOf(answer.value(), "登录失败", false);
    }
    const Text page = PageText(answer.value());
    const FormStep& login = *profile_.login;
    if ((!login.failureMarker.empty() && MarkerFound(login.failureMarker, page)) ||
        (!login.successMarker.empty() && !MarkerFound(login.successMarker, page))) {
        return SiteFailure{SiteFailure::Kind::kRefused,
                           "登录没有成功：网站的回答中没有成功标记「" + login.successMarker + "」", false, {}};
    }
    std::lock_guard lock(sessionMutex_);
    loggedIn_ = true;
    return std::nullopt;
}

SiteResult<SiteCalendar> FormSite::Prepare(HttpInstance& http, bool /*calendar*/) {
    if (std::optional<SiteFailure> failure = LogIn(http)) {
        return *failure;
    }
    return SiteCalendar{LocalSeconds(), {}};
}

SiteResult<CreatedPost> FormSite::Create(const PostRequest& request, HttpInstance& http) {
    bool loggedIn = false;
    {
        std::lock_guard lock(sessionMutex_);
        loggedIn = loggedIn_;
    }
    if (!loggedIn) {
        if (std::optional<SiteFailure> failure = LogIn(http)) {
            return *failure;
        }
    }
    const FormValues values{{"{标题}", request.article.title},
                            {"{内容}", request.article.html},
                            {"{关键词}", request.article.keyword},
                            {"{分类}", Joined(request.categories)},
                            {"{标签}", Joined(request.tags)},
                            {"{日期}", request.date.empty() ? FormatSiteTime(LocalSeconds()) : request.date}};
    SiteResult<SiteAnswer> answer = Submit(profile_.publish, values, http);
    if (!answer.ok()) {
        return answer.failure();
    }
    if (answer.value().status >= 400) {
        return FailureOf(answer.value(), "发布表单出错", true);
    }
    const Text page = PageText(answer.value());
    const FormStep& publish = profile_.publish;
    if (!publish.failureMarker.empty() && MarkerFound(publish.failureMarker, page)) {
        return SiteFailure{SiteFailure::Kind::kRejected, "网站的回答中有失败标记「" + publish.failureMarker + "」",
                           false, {}};
    }
    if (!MarkerFound(publish.successMarker, page)) {
        // Perhaps the session ended and the form showed the login page; perhaps the post went in and
        // the page changed: the next try logs in again and looks first.
        std::lock_guard lock(sessionMutex_);
        loggedIn_ = false;
        return SiteFailure{SiteFailure::Kind::kTransient,
                           "网站的回答中没有成功标记「" + publish.successMarker + "」", true, {}};
    }
    return CreatedPost{request, {}, {}};
}

SiteResult<Text> FormSite::ListPage(HttpInstance& http) {
    SiteExchange exchange;
    exchange.url = profile_.listUrl;
    Text cookies;
    {
        std::lock_guard lock(sessionMutex_);
        cookies = cookies_;
    }
    exchange.cookies = &cookies;
    SiteResult<SiteAnswer> answer = Send(exchange, http, stop_);
    if (!answer.ok()) {
        return answer.failure();
    }
    if (answer.value().status >= 400) {
        return FailureOf(answer.value(), "读取列表页", false);
    }
    return PageText(answer.value());
}

std::vector<SiteResult<PostRecord>> FormSite::Confirm(const std::vector<CreatedPost>& posts, HttpInstance& http) {
    std::vector<SiteResult<PostRecord>> results;
    const auto record = [&](const CreatedPost& post) {
        return PostRecord{"-", profile_.listUrl.empty() ? Text("-") : profile_.listUrl,
                          post.request.date.empty() ? FormatSiteTime(LocalSeconds()) : post.request.date};
    };
    if (profile_.listUrl.empty()) {
        for (const CreatedPost& post : posts) {
            results.emplace_back(record(post));
        }
        return results;
    }
    SiteResult<Text> page = ListPage(http);
    for (const CreatedPost& post : posts) {
        if (!page.ok()) {
            results.emplace_back(page.failure());
        } else if (PageShowsTitle(page.value(), post.request.article.title)) {
            results.emplace_back(record(post));
        } else {
            results.emplace_back(SiteFailure{SiteFailure::Kind::kRejected,
                                             "列表页上没有这篇文章的标题【" + post.request.article.title + "】",
                                             false,
                                             {}});
        }
    }
    return results;
}

SiteResult<std::optional<PostRecord>> FormSite::Find(const PostRequest& request, HttpInstance& http) {
    if (profile_.listUrl.empty()) {
        return SiteFailure{SiteFailure::Kind::kRejected,
                           "上次的发布没有做完，表单配置没有列表页，无法确认网站上是否已有这篇文章，请到网站上查看",
                           false,
                           {}};
    }
    SiteResult<Text> page = ListPage(http);
    if (!page.ok()) {
        return page.failure();
    }
    if (!PageShowsTitle(page.value(), request.article.title)) {
        return std::optional<PostRecord>();
    }
    return std::optional<PostRecord>(PostRecord{
        "-", profile_.listUrl, request.date.empty() ? FormatSiteTime(LocalSeconds()) : request.date});
}

}  // namespace qj::publishing

#include "publishing/wordpress_site.h"

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "http/base64.h"
#include "http/default_headers.h"
#include "publishing/schedule.h"
#include "publishing/site_http.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kPostsPerQuery = 100;  // the most WordPress lists at once
// What a post is checked by: title, status and date when it is confirmed; its content too when it is
// found again after a kill. Fewer fields make the site's answer cheaper.
constexpr std::string_view kConfirmFields = "_fields=id,status,date,link,title.raw";
constexpr std::string_view kFindFields = "_fields=id,status,date,link,title.raw,content.raw";

const Text kWrongCredentials = "用户名或应用密码不对，或网站服务器没有把 Authorization 头交给 WordPress";

// The JSON of an answer. A site whose PHP prints notices in front of its JSON is read from the
// first bracket on.
Json ParseJson(const Bytes& body) {
    Json json = Json::parse(body, nullptr, false);
    if (json.is_discarded()) {
        const std::size_t start = body.find_first_of("{[");
        if (start != Bytes::npos && start > 0) {
            json = Json::parse(body.substr(start), nullptr, false);
        }
    }
    return json;
}

// A string member (or a member of a member) as GBK; empty when missing or no string.
Text String(const Json& json, std::string_view key, std::string_view inner = {}) {
    if (!json.is_object()) {
        return {};
    }
    const auto found = json.find(key);
    if (found == json.end()) {
        return {};
    }
    const Json* value = &*found;
    if (!inner.empty()) {
        if (!value->is_object() || !value->contains(inner)) {
            return {};
        }
        value = &(*value)[std::string(inner)];
    }
    return value->is_string() ? WireToGbk(value->get<std::string>()) : Text();
}

// A number member, also when written as a string ("8", "5.5").
std::optional<double> Number(const Json& json, std::string_view key) {
    if (!json.is_object() || !json.contains(key)) {
        return std::nullopt;
    }
    const Json& value = json[std::string(key)];
    if (value.is_number()) {
        return value.get<double>();
    }
    if (value.is_string()) {
        try {
            return std::stod(value.get<std::string>());
        } catch (...) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

Text IdText(const Json& post) {
    if (post.is_object() && post.contains("id") && post["id"].is_number_integer()) {
        return std::to_string(post["id"].get<long long>());
    }
    return {};
}

// WordPress's words of an error answer ("message" of its JSON), or a few bytes of a page that is no
// such answer.
Text SiteWords(const SiteAnswer& answer) {
    const Json json = ParseJson(answer.body);
    Text message = String(json, "message");
    if (message.empty()) {
        message = answer.body.empty() ? Text("回答为空") : "回答不是 WordPress 的 JSON";
    }
    return message;
}

Text StatusValue(PostStatus status) {
    switch (status) {
    case PostStatus::kDraft:
        return "draft";
    case PostStatus::kFuture:
        return "future";
    case PostStatus::kPublish:
        break;
    }
    return "publish";
}

Text SiteDate(Text date) {
    std::replace(date.begin(), date.end(), 'T', ' ');
    return date;
}

// A GBK text as a value of a query: its UTF-8 bytes percent-encoded.
Text Query(std::string_view gbk) {
    return UrlEncode(gbk, true, true);
}

Text DecodeEntities(std::string_view text) {
    Text out(text);
    for (const auto& [entity, character] : {std::pair<std::string_view, std::string_view>{"&lt;", "<"},
                                            {"&gt;", ">"},
                                            {"&quot;", "\""},
                                            {"&#039;", "'"},
                                            {"&#39;", "'"},
                                            {"&amp;", "&"}}) {
        out = ReplaceAll(out, entity, character);
    }
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FindText(a, b, 0, true) == 0;
}

// Whether the site shows the post as it was sent (title, status, date); the difference otherwise.
std::optional<Text> Difference(const Json& post, const PostRequest& request) {
    if (ComparableText(String(post, "title", "raw")) != ComparableText(request.article.title)) {
        return "标题是【" + String(post, "title", "raw") + "】";
    }
    const Text status = String(post, "status");
    const Text expected = StatusValue(request.status);
    // A scheduled post whose time came already is published at once.
    const bool scheduledAndDue = request.status == PostStatus::kFuture && status == "publish";
    if (status != expected && !scheduledAndDue) {
        return "状态是 " + status + "，不是 " + expected;
    }
    if (request.status == PostStatus::kFuture && SiteDate(String(post, "date")) != request.date) {
        return "时间是 " + SiteDate(String(post, "date")) + "，不是 " + request.date;
    }
    return std::nullopt;
}

PostRecord RecordOf(const Json& post) {
    return PostRecord{IdText(post), String(post, "link"), SiteDate(String(post, "date"))};
}

}  // namespace

Text ComparableText(std::string_view text) {
    const Text decoded = DecodeEntities(text);
    Text out;
    out.reserve(decoded.size());
    for (char c : decoded) {
        if (!IsAsciiBlank(c)) {
            out.push_back(c);
        }
    }
    return out;
}

WordPressSite::WordPressSite(WordPressAccount account, const std::atomic<bool>* stop)
    : account_(std::move(account)), stop_(stop) {
    authorization_ =
        "Authorization: Basic " + Base64Encode(GbkToWire(account_.user) + ":" + GbkToWire(account_.appPassword));
}

Text WordPressSite::ApiUrl(std::string_view route, std::string_view query) const {
    if (plainRoutes_) {
        Text url = account_.url + "/?rest_route=" + Text(route);
        return query.empty() ? url : url + "&" + Text(query);
    }
    Text url = account_.url + "/wp-json" + Text(route);
    return query.empty() ? url : url + "?" + Text(query);
}

SiteResult<SiteAnswer> WordPressSite::Call(int method, std::string_view route, std::string_view query,
                                           const Bytes& json, HttpInstance& http) const {
    SiteExchange exchange;
    exchange.method = method;
    exchange.url = ApiUrl(route, query);
    exchange.body = json;
    exchange.headers = authorization_ + "\r\nAccept: application/json";
    if (method == kMethodPost) {
        exchange.headers += "\r\nContent-Type: application/json; charset=UTF-8";
    }
    return Send(exchange, http, stop_);
}

SiteResult<SiteCalendar> WordPressSite::Prepare(HttpInstance& http, bool calendar) {
    // Who the program is on the site: under /wp-json/ with pretty links, else under ?rest_route=.
    for (const bool plain : {false, true}) {
        plainRoutes_ = plain;
        SiteResult<SiteAnswer> me = Call(kMethodGet, "/wp/v2/users/me", "context=edit&_fields=id", {}, http);
        if (!me.ok()) {
            return me.failure();
        }
        const int status = me.value().status;
        if (status == 401) {
            return FailureOf(me.value(), kWrongCredentials, false);
        }
        if (status == 200 && !IdText(ParseJson(me.value().body)).empty()) {
            break;
        }
        if (status >= 500 || status == 429 || status == 403) {
            return FailureOf(me.value(), SiteWords(me.value()), false);
        }
        if (plain) {
            return SiteFailure{SiteFailure::Kind::kRefused,
                               "网站没有 WordPress 的 REST API（/wp-json/ 和 /?rest_route= 都不回答）" + StatusText(status),
                               false,
                               {}};
        }
    }
    if (!calendar) {
        return SiteCalendar{};
    }

    // The site's clock: this machine's, in the site's time zone; and its latest scheduled post.
    SiteResult<SiteAnswer> index = Call(kMethodGet, "/", "_fields=gmt_offset", {}, http);
    if (!index.ok()) {
        return index.failure();
    }
    if (index.value().status != 200) {
        return FailureOf(index.value(), "读取网站的时区：" + SiteWords(index.value()), false);
    }
    SiteCalendar site;
    const double offsetHours = Number(ParseJson(index.value().body), "gmt_offset").value_or(0.0);
    site.nowSeconds = static_cast<long long>(std::time(nullptr)) + static_cast<long long>(offsetHours * 3600.0);
    SiteResult<SiteAnswer> future = Call(
        kMethodGet, "/wp/v2/posts", "status=future&orderby=date&order=desc&per_page=1&context=edit&_fields=date", {},
        http);
    if (!future.ok()) {
        return future.failure();
    }
    const Json latest = ParseJson(future.value().body);
    if (future.value().status != 200 || !latest.is_array()) {
        return FailureOf(future.value(), "读取网站上已定时的文章：" + SiteWords(future.value()), false);
    }
    if (!latest.empty()) {
        site.lastScheduled = SiteDate(String(latest.front(), "date"));
    }
    return site;
}

SiteResult<long long> WordPressSite::TermId(Kind kind, const Text& name, HttpInstance& http) {
    const std::string_view route = kind == Kind::kCategory ? "/wp/v2/categories" : "/wp/v2/tags";
    const Text what = kind == Kind::kCategory ? "分类" : "标签";
    SiteResult<SiteAnswer> search =
        Call(kMethodGet, route, "per_page=100&_fields=id,name&search=" + Query(name), {}, http);
    if (!search.ok()) {
        return search.failure();
    }
    if (search.value().status != 200) {
        return FailureOf(search.value(), "查找" + what + "【" + name + "】：" + SiteWords(search.value()), false);
    }
    const Json found = ParseJson(search.value().body);
    if (found.is_array()) {
        for (const Json& term : found) {
            if (SameName(DecodeEntities(String(term, "name")), name) && !IdText(term).empty()) {
                return term["id"].get<long long>();
            }
        }
    }

    const Bytes body = Json{{"name", GbkToWire(name)}}.dump(-1, ' ', false, Json::error_handler_t::replace);
    SiteResult<SiteAnswer> created = Call(kMethodPost, route, {}, body, http);
    if (!created.ok()) {
        return created.failure();
    }
    const Json answer = ParseJson(created.value().body);
    if (created.value().status == 201 && !IdText(answer).empty()) {
        return answer["id"].get<long long>();
    }
    // A name that exists already (the search missed it, or another program made it meanwhile) is
    // answered with its id: HTTP 400 in WordPress 6.1, 409 in other versions.
    if (String(answer, "code") == "term_exists" && answer.contains("data") && answer["data"].is_object()) {
        const Json& data = answer["data"];
        if (data.contains("term_id") && data["term_id"].is_number_integer()) {
            return data["term_id"].get<long long>();
        }
    }
    return FailureOf(created.value(), "新建" + what + "【" + name + "】：" + SiteWords(created.value()), false);
}

SiteResult<std::vector<long long>> WordPressSite::TermIds(Kind kind, const TextList& names, HttpInstance& http) {
    std::vector<long long> ids;
    // One worker at a time looks terms up, so that two never create the same one.
    std::lock_guard lock(termsMutex_);
    for (const Text& name : names) {
        const auto cached = terms_.find({kind, name});
        if (cached != terms_.end()) {
            ids.push_back(cached->second);
            continue;
        }
        SiteResult<long long> id = TermId(kind, name, http);
        if (!id.ok()) {
            return id.failure();
        }
        terms_[{kind, name}] = id.value();
        ids.push_back(id.value());
    }
    return ids;
}

SiteResult<CreatedPost> WordPressSite::Create(const PostRequest& request, HttpInstance& http) {
    SiteResult<std::vector<long long>> categories = TermIds(Kind::kCategory, request.categories, http);
    if (!categories.ok()) {
        return categories.failure();
    }
    SiteResult<std::vector<long long>> tags = TermIds(Kind::kTag, request.tags, http);
    if (!tags.ok()) {
        return tags.failure();
    }
    Json post{{"title", GbkToWire(request.article.title)},
              {"content", GbkToWire(request.article.html)},
              {"status", StatusValue(request.status)}};
    if (!categories.value().empty()) {
        post["categories"] = categories.value();
    }
    if (!tags.value().empty()) {
        post["tags"] = tags.value();
    }
    if (request.status == PostStatus::kFuture && !request.date.empty()) {
        Text date = request.date;
        std::replace(date.begin(), date.end(), ' ', 'T');
        post["date"] = date;
    }
    SiteResult<SiteAnswer> answer = Call(kMethodPost, "/wp/v2/posts", "_fields=id,link",
                                         post.dump(-1, ' ', false, Json::error_handler_t::replace), http);
    if (!answer.ok()) {
        return answer.failure();
    }
    const Json created = ParseJson(answer.value().body);
    if ((answer.value().status == 201 || answer.value().status == 200) && !IdText(created).empty()) {
        return CreatedPost{request, IdText(created), String(created, "link")};
    }
    if (answer.value().status == 401) {
        return FailureOf(answer.value(), kWrongCredentials, true);
    }
    if (answer.value().status / 100 == 2) {
        // Taken, but the answer names no post: it may well be on the site.
        return SiteFailure{SiteFailure::Kind::kTransient, "网站的回答中没有文章编号", true, answer.value().headers};
    }
    return FailureOf(answer.value(), SiteWords(answer.value()), true);
}

std::vector<SiteResult<PostRecord>> WordPressSite::Confirm(const std::vector<CreatedPost>& posts,
                                                           HttpInstance& http) {
    std::vector<SiteResult<PostRecord>> results;
    for (std::size_t start = 0; start < posts.size(); start += kPostsPerQuery) {
        const std::size_t end = std::min(posts.size(), start + kPostsPerQuery);
        Text ids;
        for (std::size_t k = start; k < end; ++k) {
            ids += (ids.empty() ? "" : ",") + posts[k].id;
        }
        SiteResult<SiteAnswer> answer = Call(
            kMethodGet, "/wp/v2/posts",
            "include=" + ids + "&status=any&context=edit&per_page=100&" + Text(kConfirmFields), {}, http);
        std::optional<SiteFailure> failure;
        Json shown;
        if (!answer.ok()) {
            failure = answer.failure();
        } else if (answer.value().status != 200 || !(shown = ParseJson(answer.value().body)).is_array()) {
            failure = FailureOf(answer.value(), "再次读取文章：" + SiteWords(answer.value()), false);
            if (answer.value().status == 200) {
                failure->kind = SiteFailure::Kind::kTransient;
            }
        }
        for (std::size_t k = start; k < end; ++k) {
            if (failure) {
                results.emplace_back(*failure);
                continue;
            }
            const auto post = std::find_if(shown.begin(), shown.end(),
                                           [&](const Json& item) { return IdText(item) == posts[k].id; });
            if (post == shown.end()) {
                results.emplace_back(SiteFailure{SiteFailure::Kind::kRejected,
                                                 "网站上找不到刚发布的文章（编号" + posts[k].id + "）", false, {}});
            } else if (std::optional<Text> difference = Difference(*post, posts[k].request)) {
                results.emplace_back(SiteFailure{SiteFailure::Kind::kRejected,
                                                 "网站上的文章（编号" + posts[k].id + "）与发出的不同：" + *difference,
                                                 false,
                                                 {}});
            } else {
                results.emplace_back(RecordOf(*post));
            }
        }
    }
    return results;
}

SiteResult<std::optional<PostRecord>> WordPressSite::Find(const PostRequest& request, HttpInstance& http) {
    SiteResult<SiteAnswer> answer =
        Call(kMethodGet, "/wp/v2/posts",
             "search=" + Query(request.article.title) +
                 "&status=any&context=edit&orderby=relevance&per_page=100&" + Text(kFindFields),
             {}, http);
    if (!answer.ok()) {
        return answer.failure();
    }
    const Json found = ParseJson(answer.value().body);
    if (answer.value().status != 200 || !found.is_array()) {
        return FailureOf(answer.value(), "查找文章：" + SiteWords(answer.value()), false);
    }
    const Text title = ComparableText(request.article.title);
    const Text content = ComparableText(request.article.html);
    for (const Json& post : found) {
        if (ComparableText(String(post, "title", "raw")) == title &&
            ComparableText(String(post, "content", "raw")) == content) {
            return std::optional<PostRecord>(RecordOf(post));
        }
    }
    return std::optional<PostRecord>();
}

}  // namespace qj::publishing

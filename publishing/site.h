#pragma once

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

#include "publishing/article.h"
#include "text/types.h"

namespace qj {

class HttpInstance;

namespace publishing {

enum class PostStatus { kPublish, kDraft, kFuture };

// 发布, 草稿, 定时.
Text StatusName(PostStatus status);

// One article as it goes to one site.
struct PostRequest {
    Article article;
    PostStatus status = PostStatus::kPublish;
    Text date;  // site time "YYYY-MM-DD HH:MM:SS": when a scheduled post appears; empty otherwise
    TextList categories;
    TextList tags;
};

// A post as the site shows it.
struct PostRecord {
    Text id;    // the site's number for it; "-" when the site gives none
    Text link;  // its address; "-" when the site gives none
    Text date;  // "YYYY-MM-DD HH:MM:SS" in the site's time; "-" when the site gives none
};

// Why a site did not do what was asked.
struct SiteFailure {
    enum class Kind {
        kTransient,  // no answer, a time-out, 429, 5xx: try again after a pause
        kRefused,    // the site refuses this program (401, 403, a failed login): the site rests
        kRejected,   // the site turned this one post down, or cannot show it as sent: no retry
        kStopped,    // the run was stopped
    };
    Kind kind = Kind::kTransient;
    Text reason;  // GBK, for the run log
    // The request may have reached the site and made the post (it went out, no answer came back):
    // look before trying again.
    bool maybeCreated = false;
    // The header lines of the answer that told of the failure (a Retry-After among them), if any.
    Text responseHeaders;
};

// A value, or why there is none.
template <class T>
class [[nodiscard]] SiteResult {
public:
    SiteResult(T value) : value_(std::move(value)) {}
    SiteResult(SiteFailure failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const SiteFailure& failure() const { return failure_; }

private:
    std::optional<T> value_;
    SiteFailure failure_;
};

// A post the site took, before it was confirmed.
struct CreatedPost {
    PostRequest request;
    Text id;    // the site's number for it; empty when the site gives none (a form)
    Text link;  // its address when the answer named one
};

// Where a calendar of scheduled posts goes on: the site's clock and its latest scheduled post.
struct SiteCalendar {
    long long nowSeconds = 0;  // the site's local time now, as seconds of a UTC calendar
    Text lastScheduled;        // "YYYY-MM-DD HH:MM:SS" of the latest post the site has scheduled; empty: none
};

// One site that takes posts. The methods may be called from several threads at once, each with an
// HTTP instance of its own. Every exchange is abandoned when the stop flag the site was made with
// turns true (a kStopped failure).
class Site {
public:
    virtual ~Site() = default;

    // How the ledger and the run log name the site: its address.
    virtual const Text& Name() const = 0;

    // Called once before the first post: reaches the site, checks that it lets this program in
    // (logs in), and, with `calendar`, says where a calendar of scheduled posts continues.
    virtual SiteResult<SiteCalendar> Prepare(HttpInstance& http, bool calendar) = 0;

    // Sends one post.
    virtual SiteResult<CreatedPost> Create(const PostRequest& request, HttpInstance& http) = 0;

    // Asks the site again for posts it took: one answer per post, in order. A post is confirmed
    // only when the site shows it as it was sent (title, status, date); otherwise kRejected.
    virtual std::vector<SiteResult<PostRecord>> Confirm(const std::vector<CreatedPost>& posts, HttpInstance& http) = 0;

    // Whether the site has the post already (an earlier run may have made it and then been killed):
    // the post found and checked against the article's content, nullopt when the site has none.
    // kRejected when the site offers no way to tell.
    virtual SiteResult<std::optional<PostRecord>> Find(const PostRequest& request, HttpInstance& http) = 0;
};

}  // namespace publishing
}  // namespace qj

#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "publishing/site.h"
#include "publishing/site_http.h"

namespace qj::publishing {

// A WordPress site as a `wordpress URL USER APP_PASSWORD` line names it.
struct WordPressAccount {
    Text url;          // the site's address, without a slash at the end
    Text user;
    Text appPassword;  // without the spaces WordPress shows inside it
};

// A WordPress site through its REST API (wp/v2), with Basic authentication by an application
// password. The API is reached under /wp-json/ or, when the site has no pretty links, under
// /?rest_route=; which one is found out by Prepare. Categories and tags are found by name, created
// when missing, and remembered for the run.
class WordPressSite : public Site {
public:
    WordPressSite(WordPressAccount account, const std::atomic<bool>* stop);

    const Text& Name() const override { return account_.url; }
    SiteResult<SiteCalendar> Prepare(HttpInstance& http, bool calendar) override;
    SiteResult<CreatedPost> Create(const PostRequest& request, HttpInstance& http) override;
    std::vector<SiteResult<PostRecord>> Confirm(const std::vector<CreatedPost>& posts, HttpInstance& http) override;
    SiteResult<std::optional<PostRecord>> Find(const PostRequest& request, HttpInstance& http) override;

    // The API's address for a route ("/wp/v2/posts") and a query ("a=1&b=2"; may be empty).
    Text ApiUrl(std::string_view route, std::string_view query) const;

private:
    enum class Kind { kCategory, kTag };

    SiteResult<SiteAnswer> Call(int method, std::string_view route, std::string_view query, const Bytes& json,
                                HttpInstance& http) const;
    // The ids of named terms, found or created.
    SiteResult<std::vector<long long>> TermIds(Kind kind, const TextList& names, HttpInstance& http);
    SiteResult<long long> TermId(Kind kind, const Text& name, HttpInstance& http);

    const WordPressAccount account_;
    const std::atomic<bool>* stop_;
    Text authorization_;
    bool plainRoutes_ = false;  // set by Prepare before any other call
    std::mutex termsMutex_;
    std::map<std::pair<Kind, Text>, long long> terms_;
};

// A text of WordPress as this program compares it: entities of the five marked-up characters
// decoded, blanks and line breaks left out.
Text ComparableText(std::string_view text);

}  // namespace qj::publishing

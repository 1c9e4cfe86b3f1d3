#pragma once

#include <atomic>
#include <mutex>

#include "publishing/form_profile.h"
#include "publishing/site.h"
#include "publishing/site_http.h"

namespace qj::publishing {

// A site without an API, published to through its own web forms as a profile describes them: an
// optional login whose cookies the posts carry, the post form, success and failure markers in the
// answer, and an optional list page on which a post's title confirms it. Its calendar is this
// machine's clock.
class FormSite : public Site {
public:
    FormSite(FormProfile profile, const std::atomic<bool>* stop);

    // The address of the post form.
    const Text& Name() const override { return profile_.publish.url; }
    SiteResult<SiteCalendar> Prepare(HttpInstance& http, bool calendar) override;
    SiteResult<CreatedPost> Create(const PostRequest& request, HttpInstance& http) override;
    std::vector<SiteResult<PostRecord>> Confirm(const std::vector<CreatedPost>& posts, HttpInstance& http) override;
    SiteResult<std::optional<PostRecord>> Find(const PostRequest& request, HttpInstance& http) override;

private:
    SiteResult<SiteAnswer> Submit(const FormStep& step, const FormValues& values, HttpInstance& http);
    std::optional<SiteFailure> LogIn(HttpInstance& http);
    // The list page as text, or why it could not be read.
    SiteResult<Text> ListPage(HttpInstance& http);
    // An answer's body as GBK text: decoded by the charset its Content-Type names, else by the
    // form's encoding.
    Text PageText(const SiteAnswer& answer) const;

    const FormProfile profile_;
    const std::atomic<bool>* stop_;
    std::mutex sessionMutex_;
    Text cookies_;
    bool loggedIn_ = false;
};

// Whether a page shows a title: as written, or with its <, >, & and quotes as HTML entities.
bool PageShowsTitle(const Text& page, const Text& title);

}  // namespace qj::publishing

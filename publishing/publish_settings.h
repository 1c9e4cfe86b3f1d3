#pragma once

#include <vector>

#include "publishing/form_profile.h"
#include "publishing/schedule.h"
#include "publishing/site.h"
#include "publishing/wordpress_site.h"
#include "text/types.h"

namespace qj::publishing {

// One usable line of the site box.
struct SiteLine {
    int lineNumber = 0;  // in the box, from 1
    enum class Kind { kWordPress, kForm } kind = Kind::kWordPress;
    WordPressAccount wordpress;  // with kWordPress
    FormProfile form;            // with kForm
};

// Everything publishing needs, read once when a run or a publication starts.
struct PublishSettings {
    std::vector<SiteLine> sites;
    bool afterEachArticle = false;  // publish each article right after it is written
    bool everySite = false;         // every article to every site, not the sites in turn
    PostStatus status = PostStatus::kPublish;
    TextList categories;
    TextList tags;
    int postsPerDay = 10;  // with kFuture
    DailyWindow hours;     // with kFuture
    int retries = 0;       // further tries after a transient failure, as for generation
    int workersPerSite = 4;
};

// The page 发布设置 as the user filled it in.
struct PublishTexts {
    Text sites;
    Text status;
    Text categories;
    Text tags;
    Text postsPerDay;
    Text hours;
    bool afterEachArticle = false;
    bool everySite = false;
};

struct PublishSettingsReading {
    PublishSettings settings;
    TextList problems;  // one run-log line per site line left out
    Text error;         // why nothing can be published with these settings; empty when it can
};

// Reads the page. The site box holds one site a line: "wordpress URL USER APP_PASSWORD" (the
// password is the rest of the line; its spaces do not count) or "表单 PROFILE_FILE" (a path relative
// to `programFolder` unless absolute; the profile is read now). Empty lines and lines starting with
// "#" are skipped; a line that cannot be used is left out with a problem saying which and why (never
// showing a password). Categories and tags are separated by commas (ASCII or Chinese).
PublishSettingsReading ReadPublishSettings(const PublishTexts& texts, const Text& programFolder);

// Names separated by commas, blanks around each dropped, empty ones left out.
TextList SplitNames(std::string_view text);

}  // namespace qj::publishing

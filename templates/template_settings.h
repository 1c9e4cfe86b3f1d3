#pragma once

#include <string_view>

#include "templates/prompt_fill.h"
#include "text/types.h"

namespace qj {

// The settings of the steps before the article and of the internal links, as the user typed them
// (GBK). They belong to interface three, whose article prompt and system prompt the steps share.
struct TemplateSettings {
    Text titlePrompt;      // empty: no title step
    Text outlinePrompt;    // empty: no outline step
    Text linkSource;       // a links file, a sitemap file, or the URL of either; empty: no links
    Text linksPerArticle;  // empty or no number: kDefaultLinksPerArticle
};

inline constexpr int kDefaultLinksPerArticle = 3;
inline constexpr int kMaxLinksPerArticle = 100;

// The links an article gets at most: the number typed, within 0 and kMaxLinksPerArticle; the
// default when nothing or something else is typed (as the program reads its other counts).
int LinksPerArticle(std::string_view typed);

inline ArticleSteps StepsOf(const TemplateSettings& settings) {
    return {settings.titlePrompt, settings.outlinePrompt};
}

}  // namespace qj

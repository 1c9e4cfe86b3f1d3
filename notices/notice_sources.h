#pragma once

#include <optional>

#include "services/caller_hooks.h"
#include "settings/deployment.h"
#include "text/types.h"

namespace qj {

// Where a notice text comes from. The addresses and the built-in text are kept as base64 (of the
// address, of the text's GBK bytes) and decoded only when a fetch uses them.
struct NoticeSource {
    Text primary;                       // base64 of the first address asked
    Text fallback;                      // base64 of the address asked when the first gives nothing usable
    Text builtIn;                       // base64 of the text used when neither does
    std::optional<int> timeoutSeconds;  // nullopt: the HTTP layer's default
};

// The advert list: the secondary site first, then the main site, 3 seconds each.
NoticeSource AdvertNoticeSource(const Deployment& deployment);
// The version notice: the secondary site first, then the main site, the default time-out.
NoticeSource VersionNoticeSource(const Deployment& deployment);

// The built-in texts, made from the maker's main site.
Text BuiltInAdvertText(const Text& mainSite);
Text BuiltInVersionNotice(const Text& mainSite);

// A fetched text is unusable when it is empty or holds "404" anywhere (a server's error page).
bool IsUnusableNotice(const Text& text);

// The notice text: the primary address's reply, else the fallback's, else the built-in text. Each
// GET is waited for the caller's way. The reply is taken up to its first zero byte, as GBK,
// unconverted; a failed GET counts as an empty reply.
Text FetchNoticeText(const NoticeSource& source, const ExchangeWait& wait);

}  // namespace qj

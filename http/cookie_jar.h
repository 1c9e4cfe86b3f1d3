#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// A cookie text is a list of name=value items joined by "; ". An item ending in "=deleted" marks a
// cookie that the server deleted.
using CookieText = Text;

// The name-and-value parts of every "Set-Cookie" line (name matched byte for byte) of a response
// header text, in order, joined by "; "; attributes behind the first semicolon are left out.
CookieText ExtractCookies(std::string_view responseHeaders);

// The cookie jar carried from one request to the next: items of `fresh` first, then the items of
// `old` whose names `fresh` does not hold; deleted items are left out and repeated items kept
// once. `old` receives the merged text too.
CookieText MergeCookies(CookieText& old, std::string_view fresh);

// The trimmed text in front of the first "=" of a cookie item, or the whole trimmed item.
Text CookieName(std::string_view item);

// The list separated by `separator` with every item that equals an earlier one left out.
Text DedupeItems(std::string_view text, std::string_view separator);

}  // namespace qj

#include "http/cookie_jar.h"

#include <algorithm>

#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::string_view kItemSeparator = "; ";
constexpr std::string_view kSetCookie = "Set-Cookie:";
constexpr std::string_view kDeletedMark = "=deleted";

// Trimmed, and with a lone ";" at the end completed to a full separator so that the split below
// does not leave it on the last item.
Text CleanCookieText(std::string_view text) {
    Text cleaned = TrimSpaces(text);
    if (!cleaned.empty() && cleaned.back() == ';') {
        cleaned.push_back(' ');
    }
    return cleaned;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

CookieText ExtractCookies(std::string_view responseHeaders) {
    CookieText result;
    for (const Text& line : SplitText(responseHeaders, "\r\n")) {
        if (TextLeftOf(line, ": ") != "Set-Cookie") {
            continue;
        }
        const Text cookie = FindText(line, ";") == kNotFound ? TrimSpaces(RemoveEveryIgnoreCase(line, kSetCookie))
                                                             : TrimSpaces(TextBetween(line, kSetCookie, ";"));
        result.append(cookie);
        result.append(kItemSeparator);
    }
    if (EndsWith(result, kItemSeparator)) {
        result.resize(result.size() - kItemSeparator.size());
    }
    return result;
}

CookieText MergeCookies(CookieText& old, std::string_view fresh) {
    const TextList oldItems = SplitText(CleanCookieText(old), kItemSeparator);
    TextList merged = SplitText(CleanCookieText(fresh), kItemSeparator);
    for (const Text& item : oldItems) {
        const Text name = CookieName(item);
        const bool replaced =
            std::any_of(merged.begin(), merged.end(), [&](const Text& kept) { return CookieName(kept) == name; });
        if (!replaced) {
            merged.push_back(item);
        }
    }
    Text joined;
    for (const Text& item : merged) {
        if (!EndsWith(item, kDeletedMark)) {
            joined.append(item);
            joined.append(kItemSeparator);
        }
    }
    if (!joined.empty()) {
        joined.resize(joined.size() - kItemSeparator.size());
    }
    old = DedupeItems(joined, kItemSeparator);
    return old;
}

Text CookieName(std::string_view item) {
    const std::size_t equals = FindText(item, "=");
    return TrimSpaces(equals == kNotFound ? item : item.substr(0, equals));
}

Text DedupeItems(std::string_view text, std::string_view separator) {
    TextList kept;
    for (Text& item : SplitText(text, separator)) {
        if (std::find(kept.begin(), kept.end(), item) == kept.end()) {
            kept.push_back(std::move(item));
        }
    }
    Text result;
    for (const Text& item : kept) {
        result.append(item);
        result.append(separator);
    }
    if (result.size() >= separator.size()) {
        result.resize(result.size() - separator.size());
    }
    return result;
}

}  // namespace qj

#include "text/text_helpers.h"

#include <string.h>

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "text/ascii.h"
#include "text/gbk.h"
#include "text/regex_matcher.h"

namespace qj {

namespace {

bool EqualAt(std::string_view text, std::size_t at, std::string_view needle, bool ignoreCase) {
    if (!ignoreCase) {
        return text.compare(at, needle.size(), needle) == 0;
    }
    for (std::size_t k = 0; k < needle.size(); ++k) {
        if (LowerAscii(text[at + k]) != LowerAscii(needle[k])) {
            return false;
        }
    }
    return true;
}

Text WithQuotes(std::string_view marker) {
    return ReplaceAll(marker, "#\xD2\xFD\xBA\xC5", "\"");
}  // #引号

std::size_t StartOffset(int start) {
    return start < 1 ? 0 : static_cast<std::size_t>(start - 1);
}

std::shared_mutex g_hookMutex;
std::function<void()> g_pendingMessagesHook;

void ProcessPendingMessages() {
    std::shared_lock lock(g_hookMutex);
    if (g_pendingMessagesHook) {
        g_pendingMessagesHook();
    }
}

}  // namespace

std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from, bool ignoreCase) {
    if (needle.empty() || from >= text.size() || needle.size() > text.size() - from) {
        return kNotFound;
    }
    if (ignoreCase) {
        const std::size_t last = text.size() - needle.size();
        for (std::size_t i = from; i <= last; i += GbkUnitLength(text, i)) {
            if (EqualAt(text, i, needle, true)) {
                return i;
            }
        }
        return kNotFound;
    }
    // Byte search for candidates, then keep the first one that starts on a unit boundary. A byte that
    // cannot be a trail byte always starts a unit, and so does a byte behind one that is no lead
    // byte; from there, lead bytes pair up (every lead byte can also be a trail byte), so a
    // candidate is aligned when the run of lead bytes in front of it (back to `from`) is even.
    std::size_t pos = from;
    while (pos + needle.size() <= text.size()) {
        const void* hit = memmem(text.data() + pos, text.size() - pos, needle.data(), needle.size());
        if (!hit) {
            return kNotFound;
        }
        const std::size_t candidate = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        std::size_t run = 0;
        for (std::size_t j = IsGbkTrailByte(static_cast<unsigned char>(text[candidate])) ? candidate : from;
             j > from && IsGbkLeadByte(static_cast<unsigned char>(text[j - 1])); --j) {
            ++run;
        }
        if (run % 2 == 0) {
            return candidate;
        }
        pos = candidate + 1;  // the candidate began on a trail byte; the next unit starts behind it
        from = pos;
    }
    return kNotFound;
}

Text ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    Text out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = FindText(text, from, pos);
        if (hit == kNotFound) {
            break;
        }
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(std::min(pos, text.size())));
    return out;
}

TextList SplitText(std::string_view text, std::string_view separator) {
    TextList pieces;
    if (text.empty()) {
        return pieces;
    }
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = FindText(text, separator, pos);
        if (hit == kNotFound) {
            if (pos < text.size()) {
                pieces.emplace_back(text.substr(pos));
            }
            break;
        }
        pieces.emplace_back(text.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
    return pieces;
}

Text TextBetween(std::string_view text, std::string_view left, std::string_view right, int start, bool ignoreCase) {
    const Text l = WithQuotes(left);
    const Text r = WithQuotes(right);
    const std::size_t at = FindText(text, l, StartOffset(start), ignoreCase);
    if (at == kNotFound) {
        return {};
    }
    const std::size_t p = at + l.size();
    const std::size_t end = FindText(text, r, p, ignoreCase);
    if (end == kNotFound) {
        return {};
    }
    return Text(text.substr(p, end - p));
}

int AllTextsBetween(std::string_view text, std::string_view left, std::string_view right, TextList& items,
                    const AllTextsOptions& options) {
    items.clear();
    std::size_t from = StartOffset(options.start);
    while (true) {
        const std::size_t at = FindText(text, left, from, options.ignoreCase);
        if (at == kNotFound) {
            break;
        }
        const std::size_t p = at + left.size();
        const std::size_t end = FindText(text, right, p, options.ignoreCase);
        if (end == kNotFound) {
            break;
        }
        Text item;
        if (options.includeLeft) {
            item.append(left);
        }
        item.append(options.prefix);
        item.append(text.substr(p, end - p));
        item.append(options.suffix);
        if (options.includeRight) {
            item.append(right);
        }
        if (!options.lengthLimit || item.size() < *options.lengthLimit) {
            items.push_back(std::move(item));
        }
        for (int k = 0; k < 3; ++k) {
            ProcessPendingMessages();
        }
        from = p;
    }
    return static_cast<int>(items.size());
}

Text TextLeftOf(std::string_view text, std::string_view marker) {
    const std::size_t at = FindText(text, marker);
    return at == kNotFound ? Text() : Text(text.substr(0, at));
}

Text TextRightOf(std::string_view text, std::string_view marker) {
    if (text.empty()) {
        return {};
    }
    const std::string_view searched = text.substr(0, text.size() - 1);
    std::size_t last = kNotFound;
    for (std::size_t at = FindText(searched, marker); at != kNotFound;
         at = FindText(searched, marker, at + GbkUnitLength(searched, at))) {
        last = at;
    }
    return last == kNotFound ? Text() : Text(text.substr(last + marker.size()));
}

Text TrimLineBreaks(std::string_view text) {
    if (text.starts_with("\r\n")) {
        text.remove_prefix(2);
    }
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    }
    RegexMatcher matcher;
    if (!matcher.Run("(?:^\\r|\\n$)", Text(text))) {
        return Text(text);  // not reached: the fixed pattern is valid
    }
    return matcher.Replace("");
}

Bytes JoinBytes(std::initializer_list<std::string_view> parts) {
    Bytes out;
    std::size_t total = 0;
    for (std::string_view p : parts) {
        total += p.size();
    }
    out.reserve(total);
    for (std::string_view p : parts) {
        out.append(p);
    }
    return out;
}

void SetPendingMessagesHook(std::function<void()> hook) {
    std::unique_lock lock(g_hookMutex);
    g_pendingMessagesHook = std::move(hook);
}

namespace {

constexpr std::string_view kFullWidthSpace = "\xA1\xA1";

// Length of the blank unit at byte `i`, or 0 when the unit there is not blank.
std::size_t BlankUnitLength(std::string_view text, std::size_t i) {
    if (text[i] == ' ') {
        return 1;
    }
    if (GbkUnitLength(text, i) == 2 && text.substr(i, 2) == kFullWidthSpace) {
        return 2;
    }
    return 0;
}

}  // namespace

Text TrimSpaces(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t blank = BlankUnitLength(text, begin);
        if (blank == 0) {
            break;
        }
        begin += blank;
    }
    // Units can only be told apart walking forward: remember where the last non-blank unit ends.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t unit = GbkUnitLength(text, i);
        if (BlankUnitLength(text, i) == 0) {
            end = i + unit;
        }
        i += unit;
    }
    return Text(text.substr(begin, end - begin));
}

Text RemoveEveryIgnoreCase(std::string_view text, std::string_view needle) {
    Text result;
    std::size_t from = 0;
    while (true) {
        const std::size_t hit = FindText(text, needle, from, true);
        if (hit == kNotFound) {
            result.append(text.substr(from));
            return result;
        }
        result.append(text.substr(from, hit - from));
        from = hit + needle.size();
    }
}

}  // namespace qj

#include "text/text_helpers.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <mutex>
#include <shared_mutex>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"

namespace qj {

namespace {

// The first occurrence of `needle` in the `size` bytes at `data`; nullptr when there is none.
// glibc's memmem is the fastest search there is for this; the Windows C runtime has none.
const char* FindBytes(const char* data, std::size_t size, std::string_view needle) {
#if defined(__GLIBC__)
    return static_cast<const char*>(memmem(data, size, needle.data(), needle.size()));
#else
    const std::size_t at = std::string_view(data, size).find(needle);
    return at == std::string_view::npos ? nullptr : data + at;
#endif
}

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
        const char* hit = FindBytes(text.data() + pos, text.size() - pos, needle);
        if (!hit) {
            return kNotFound;
        }
        const std::size_t candidate = static_cast<std::size_t>(hit - text.data());
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

namespace {

// What the multi-line expression "(?:^\r|\n$)" replaced by nothing gives, without running it: a
// CR at the start of a line (the text's or behind a CR or LF) goes, and so does an LF at the end
// of one (the text's or before a CR or LF). Code page 936 has neither line separator of UTF-16
// (U+2028, U+2029), so CR and LF are the only line ends, and they are whole units whose
// neighbours are read as bytes. The rest comes back as the expression's way through UTF-16 gives
// it (`roundTripped`: the text is known to come back unchanged), and like its subject the text
// ends at the first zero byte.
Text TrimmedLineBreaks(std::string_view text, bool roundTripped) {
    if (text.starts_with("\r\n")) {
        text.remove_prefix(2);
    }
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    }
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    Text out;
    out.reserve(text.size());
    std::size_t kept = 0;           // start of the bytes not written yet
    bool unchanged = roundTripped;  // and whether their units all come back unchanged
    const auto write = [&](std::size_t to) {
        if (unchanged) {
            out.append(text.substr(kept, to - kept));
        } else {
            AppendGbkRoundTrip(out, text.substr(kept, to - kept));
        }
    };
    for (std::size_t i = 0;;) {
        i = roundTripped ? FindLineBreak(text, i) : i + GbkKeptSpan(text.substr(i), '\r', '\n');
        if (i >= text.size()) {
            break;
        }
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            unchanged = false;
            i += GbkUnitLength(text, i);
            continue;
        }
        const bool lineStart = i == 0 || text[i - 1] == '\r' || text[i - 1] == '\n';
        const bool lineEnd = i + 1 == text.size() || text[i + 1] == '\r' || text[i + 1] == '\n';
        if (text[i] == '\r' ? lineStart : lineEnd) {
            write(i);
            kept = i + 1;
            unchanged = roundTripped;
        }
        ++i;
    }
    write(text.size());
    return out;
}

}  // namespace

std::size_t FindLineBreak(std::string_view text, std::size_t from) {
    std::size_t i = std::min(from, text.size());
#if defined(__SSE2__)
    // Sixteen bytes at a time.
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; text.size() - i >= 16; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        if (hits != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(hits)));
        }
    }
#endif
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') {
        ++i;
    }
    return i;
}

Text TrimLineBreaks(std::string_view text) {
    return TrimmedLineBreaks(text, false);
}

Text TrimLineBreaksOfRoundTrip(std::string_view text) {
    return TrimmedLineBreaks(text, true);
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

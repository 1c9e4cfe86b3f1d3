#include "text/regex_matcher.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::size_t kUnset = static_cast<std::size_t>(-1);

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool IsOctalDigit(char16_t c) {
    return c >= u'0' && c <= u'7';
}

// Letters that stand for something after a backslash in the script dialect; "b" and "B" only
// outside a class. Every other letter escape means something else (or nothing) to PCRE2.
bool IsEcmaLetterEscape(char16_t c, bool inClass) {
    return std::u16string_view(u"dDsSwWfnrtvxuc").find(c) != std::u16string_view::npos || c == u'b' ||
           (c == u'B' && !inClass);
}

void AppendCodeUnitEscape(std::u16string& out, unsigned value) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    out += u"\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(value >> shift) & 15]);
    }
}

// A legacy octal escape at `i` (its first digit): up to three octal digits when the first is 0 to
// 3, up to two when it is 4 to 7. Appends the character and returns how many digits it took.
std::size_t AppendLegacyOctal(std::u16string_view pattern, std::size_t i, std::u16string& out) {
    const std::size_t limit = pattern[i] <= u'3' ? 3 : 2;
    unsigned value = 0;
    std::size_t used = 0;
    while (used < limit && i + used < pattern.size() && IsOctalDigit(pattern[i + used])) {
        value = value * 8 + (pattern[i + used] - u'0');
        ++used;
    }
    AppendCodeUnitEscape(out, value);
    return used;
}

// The length of a brace quantifier ("{n}", "{n,}", "{n,m}") at `i`, 0 when the brace there is a
// plain character.
std::size_t BraceQuantifierLength(std::u16string_view pattern, std::size_t i) {
    std::size_t j = i + 1;
    const auto digits = [&] {
        const std::size_t from = j;
        while (j < pattern.size() && IsDigit(pattern[j])) {
            ++j;
        }
        return j > from;
    };
    if (!digits()) {
        return 0;
    }
    if (j < pattern.size() && pattern[j] == u',') {
        ++j;
        digits();
    }
    return (j < pattern.size() && pattern[j] == u'}') ? j + 1 - i : 0;
}

// Capturing groups of a pattern: "(" outside a class, unescaped, not followed by "?".
int CountCapturingGroups(std::u16string_view pattern) {
    int count = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'\\') {
            ++i;
        } else if (inClass) {
            inClass = c != u']';
        } else if (c == u'[') {
            inClass = true;
            if (i + 1 < pattern.size() && pattern[i + 1] == u'^') {
                ++i;
            }
        } else if (c == u'(' && (i + 1 >= pattern.size() || pattern[i + 1] != u'?')) {
            ++count;
        }
    }
    return count;
}

// Rewrites a pattern of the script dialect (ECMAScript as the classic RegExp object reads it) into
// PCRE2 with the same meaning: the anchors and the dot get ECMAScript's line terminators, "\v" is
// the vertical tab, "\1" without a first group and other decimal escapes beyond the group count are
// octal escapes, "[" inside a class is a plain character. Syntax the dialect rejects and PCRE2
// would accept with a meaning of its own gives nullopt: a quantifier behind a quantifier
// (possessive "a*+") or behind an anchor ("^*"), group forms other than "(?:", "(?=" and "(?!"
// (atomic, named, inline options, comments, lookbehind, verbs), and letter escapes the dialect does
// not know ("\A", "\Z", "\z", "\G", "\K", "\Q", "\E", "\h", "\R", "\X", "\N", "\p", "\k", "\g"...).
// Other invalid syntax is left for PCRE2 to refuse.
std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool multiline) {
    static const std::u16string kTerminators = u"\\n\\r\\u2028\\u2029";
    const std::u16string lineStart = multiline ? u"(?:\\A|(?<=[" + kTerminators + u"]))" : u"\\A";
    const std::u16string lineEnd = multiline ? u"(?:\\z|(?=[" + kTerminators + u"]))" : u"\\z";
    const std::u16string anyButBreak = u"[^" + kTerminators + u"]";
    const int groups = CountCapturingGroups(pattern);

    enum class Last { kAtom, kAnchor, kQuantifier };
    Last last = Last::kAnchor;  // nothing to repeat at the start; PCRE2 refuses that itself
    std::u16string out;
    out.reserve(pattern.size() + 16);
    bool inClass = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'\\') {
            if (i + 1 >= pattern.size()) {
                return std::nullopt;
            }
            const char16_t e = pattern[++i];
            last = Last::kAtom;
            if (IsDigit(e)) {
                if (!inClass && e != u'0') {
                    std::size_t j = i;
                    long number = 0;
                    while (j < pattern.size() && IsDigit(pattern[j]) && number <= groups) {
                        number = number * 10 + (pattern[j++] - u'0');
                    }
                    while (j < pattern.size() && IsDigit(pattern[j])) {
                        number = groups + 1L;  // more digits than any group number has
                        ++j;
                    }
                    if (number <= groups) {
                        out += u"\\g{" + std::u16string(pattern.substr(i, j - i)) + u"}";
                        i = j - 1;
                        continue;
                    }
                }
                if (e == u'8' || e == u'9') {
                    out.push_back(e);
                    continue;
                }
                i += AppendLegacyOctal(pattern, i, out) - 1;
                continue;
            }
            if (IsAsciiLetter(e)) {
                if (!IsEcmaLetterEscape(e, inClass)) {
                    return std::nullopt;
                }
                if (e == u'c') {
                    if (i + 1 >= pattern.size() || !IsAsciiLetter(pattern[i + 1])) {
                        return std::nullopt;
                    }
                    out += u"\\c";
                    out.push_back(pattern[++i]);
                    continue;
                }
                if (e == u'v') {
                    out += u"\\x0B";  // to PCRE2 "\v" is every vertical blank
                    continue;
                }
                if ((e == u'b' || e == u'B') && !inClass) {
                    last = Last::kAnchor;
                }
            }
            out.push_back(c);
            out.push_back(e);
            continue;
        }
        if (inClass) {
            if (c == u']') {
                inClass = false;
                out.push_back(c);
            } else if (c == u'[') {
                out += u"\\[";  // never the start of a POSIX class
            } else {
                out.push_back(c);
            }
            continue;
        }
        const std::size_t brace = c == u'{' ? BraceQuantifierLength(pattern, i) : 0;
        if (c == u'*' || c == u'+' || c == u'?' || brace > 0) {
            if (last != Last::kAtom) {
                return std::nullopt;
            }
            const std::size_t length = brace > 0 ? brace : 1;
            out.append(pattern.substr(i, length));
            i += length - 1;
            if (i + 1 < pattern.size() && pattern[i + 1] == u'?') {
                out.push_back(pattern[++i]);  // lazy
            }
            last = Last::kQuantifier;
            continue;
        }
        last = Last::kAtom;
        switch (c) {
            case u'[':
                inClass = true;
                out.push_back(c);
                // A ']' right behind '[' or '[^' closes the class in ECMAScript (empty class).
                if (i + 1 < pattern.size() && pattern[i + 1] == u'^') {
                    out.push_back(pattern[++i]);
                }
                break;
            case u'(':
                out.push_back(c);
                if (i + 1 < pattern.size() && pattern[i + 1] == u'*') {
                    return std::nullopt;
                }
                if (i + 1 < pattern.size() && pattern[i + 1] == u'?') {
                    if (i + 2 >= pattern.size() ||
                        std::u16string_view(u":=!").find(pattern[i + 2]) == std::u16string_view::npos) {
                        return std::nullopt;
                    }
                    out.append(pattern.substr(i + 1, 2));
                    i += 2;
                }
                last = Last::kAnchor;
                break;
            case u'|':
                out.push_back(c);
                last = Last::kAnchor;
                break;
            case u'^':
                out += lineStart;
                last = Last::kAnchor;
                break;
            case u'$':
                out += lineEnd;
                last = Last::kAnchor;
                break;
            case u'.':
                out += anyButBreak;
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

}  // namespace

struct RegexMatcher::Compiled {
    Text pattern;  // as written, after the placeholder replacement
    bool global = true;
    std::shared_ptr<pcre2_code> code;
};

struct RegexMatcher::Matches {
    std::u16string subject;
    // Per match, [start, end) in UTF-16 units of group 0, 1, 2, ...; kUnset for a group that did not
    // take part.
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> groups;
    int captureCount = 0;
};

namespace {

// Compiled patterns are kept, so that a pattern run again and again (the line-break trimming of
// every reply) is compiled once. The compiled code is read-only and may be shared by threads.
std::shared_ptr<pcre2_code> CompilePattern(const std::u16string& translated, uint32_t options) {
    static std::mutex mutex;
    static std::map<std::pair<std::u16string, uint32_t>, std::shared_ptr<pcre2_code>> cache;
    constexpr std::size_t kCacheLimit = 64;

    std::lock_guard lock(mutex);
    auto key = std::make_pair(translated, options);
    if (auto it = cache.find(key); it != cache.end()) {
        return it->second;
    }
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* raw = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(), options, &error,
                                    &errorOffset, nullptr);
    if (!raw) {
        return nullptr;
    }
    pcre2_jit_compile(raw, PCRE2_JIT_COMPLETE);  // optional: matching works without it
    std::shared_ptr<pcre2_code> code(raw, CodeDeleter());
    if (cache.size() >= kCacheLimit) {
        cache.clear();
    }
    cache.emplace(std::move(key), code);
    return code;
}

}  // namespace

RegexMatcher::RegexMatcher() = default;
RegexMatcher::~RegexMatcher() = default;
RegexMatcher::RegexMatcher(const RegexMatcher& other) = default;
RegexMatcher& RegexMatcher::operator=(const RegexMatcher& other) = default;

bool RegexMatcher::Run(const Text& pattern, const Text& subject, bool caseSensitive, bool multiline, bool global,
                       bool quotePlaceholder) {
    regex_.reset();
    matches_.reset();
    subject_ = subject.substr(0, std::strlen(subject.c_str()));

    auto compiled = std::make_shared<Compiled>();
    compiled->pattern = quotePlaceholder ? ReplaceAll(pattern, "#\xD2\xFD\xBA\xC5", "\"") : pattern;  // #引号
    compiled->global = global;
    const std::optional<std::u16string> translated = TranslatePattern(GbkToUtf16(compiled->pattern), multiline);
    if (!translated) {
        return false;
    }
    // A backreference to a group that has not taken part matches the empty text, as in ECMAScript.
    uint32_t options =
        PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS | PCRE2_NEVER_BACKSLASH_C | PCRE2_MATCH_UNSET_BACKREF;
    if (!caseSensitive) {
        options |= PCRE2_CASELESS;
    }
    compiled->code = CompilePattern(*translated, options);
    if (!compiled->code) {
        return false;
    }
    regex_ = compiled;

    auto found = std::make_shared<Matches>();
    found->subject = GbkToUtf16(subject_);
    uint32_t captures = 0;
    pcre2_pattern_info(compiled->code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    found->captureCount = static_cast<int>(captures);

    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
    const auto* subj = reinterpret_cast<PCRE2_SPTR>(found->subject.data());
    const std::size_t length = found->subject.size();
    std::size_t offset = 0;
    // The subject is checked for valid UTF-16 by the first search only; checking it again at every
    // match of a global search would cost the whole subject each time.
    uint32_t matchOptions = 0;
    while (offset <= length) {
        const int rc = pcre2_match(compiled->code.get(), subj, length, offset, matchOptions, data.get(), nullptr);
        matchOptions = PCRE2_NO_UTF_CHECK;
        if (rc < 0) {
            break;
        }
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
        std::vector<std::pair<std::size_t, std::size_t>> groups(captures + 1);
        for (uint32_t g = 0; g <= captures; ++g) {
            if (g < static_cast<uint32_t>(rc) && ov[2 * g] != PCRE2_UNSET) {
                groups[g] = {ov[2 * g], ov[2 * g + 1]};
            } else {
                groups[g] = {kUnset, kUnset};
            }
        }
        const std::size_t start = ov[0];
        const std::size_t end = ov[1];
        found->groups.push_back(std::move(groups));
        if (!global) {
            break;
        }
        if (end > start) {
            offset = end;
        } else {
            // An empty match: go on one character further, as the script engine does.
            offset = end + ((end < length && IsHighSurrogate(found->subject[end])) ? 2 : 1);
        }
    }
    matches_ = found;
    return true;
}

Text RegexMatcher::GetPattern() const {
    return regex_ ? regex_->pattern : Text();
}

Text RegexMatcher::Replace(const Text& replacement) const {
    if (!regex_ || !matches_) {
        return {};
    }
    const std::u16string& s = matches_->subject;
    const std::u16string rep = GbkToUtf16(replacement);
    const int captures = matches_->captureCount;
    std::u16string out;
    out.reserve(s.size());
    std::size_t last = 0;
    for (const auto& groups : matches_->groups) {
        const auto [start, end] = groups[0];
        out.append(s, last, start - last);
        for (std::size_t i = 0; i < rep.size(); ++i) {
            const char16_t c = rep[i];
            if (c != u'$' || i + 1 >= rep.size()) {
                out.push_back(c);
                continue;
            }
            const char16_t n = rep[i + 1];
            if (n == u'$') {
                out.push_back(u'$');
                ++i;
            } else if (n == u'&') {
                out.append(s, start, end - start);
                ++i;
            } else if (n == u'`') {
                out.append(s, 0, start);
                ++i;
            } else if (n == u'\'') {
                out.append(s, end);
                ++i;
            } else if (n >= u'0' && n <= u'9') {
                // $nn when that group exists, else $n when that one does; $0 and absent groups stay literal.
                int group = -1;
                std::size_t used = 0;
                if (i + 2 < rep.size() && rep[i + 2] >= u'0' && rep[i + 2] <= u'9') {
                    const int two = (n - u'0') * 10 + (rep[i + 2] - u'0');
                    if (two >= 1 && two <= captures) {
                        group = two;
                        used = 2;
                    }
                }
                if (group < 0 && n != u'0' && (n - u'0') <= captures) {
                    group = n - u'0';
                    used = 1;
                }
                if (group < 0) {
                    out.push_back(c);
                    continue;
                }
                const auto [gs, ge] = groups[static_cast<std::size_t>(group)];
                if (gs != kUnset) {
                    out.append(s, gs, ge - gs);
                }
                i += used;
            } else {
                out.push_back(c);
            }
        }
        last = end;
    }
    out.append(s, last);
    return Utf16ToGbk(out);
}

int RegexMatcher::MatchCount() const {
    return matches_ ? static_cast<int>(matches_->groups.size()) : 0;
}

Text RegexMatcher::MatchText(int index, int* position) const {
    return GroupText(index, 0, position);
}

Text RegexMatcher::SubmatchText(int index, int group, int* position) const {
    if (group < 1) {
        if (position) {
            *position = -1;
        }
        return {};
    }
    return GroupText(index, group, position);
}

Text RegexMatcher::GroupText(int index, int group, int* position) const {
    if (position) {
        *position = -1;
    }
    if (!matches_ || index < 1 || index > static_cast<int>(matches_->groups.size()) || group > matches_->captureCount) {
        return {};
    }
    const auto [start, end] = matches_->groups[static_cast<std::size_t>(index - 1)][static_cast<std::size_t>(group)];
    if (start == kUnset) {
        return {};
    }
    if (position) {
        *position = static_cast<int>(GbkByteOffsetOfUnit(subject_, start));
    }
    return Utf16ToGbk(std::u16string_view(matches_->subject).substr(start, end - start));
}

int RegexMatcher::SubmatchCount() const {
    return (matches_ && !matches_->groups.empty()) ? matches_->captureCount : 0;
}

}  // namespace qj

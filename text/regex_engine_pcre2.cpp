// The regular-expression engine on PCRE2 (16-bit, so offsets are UTF-16 units).
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "text/regex_dialect.h"
#include "text/regex_engine.h"

namespace qj {

namespace {

using Kind = RegexToken::Kind;

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

void AppendUnit(std::u16string& out, char16_t value) {
    const bool plain = (value >= u'0' && value <= u'9') || (value >= u'a' && value <= u'z') ||
                       (value >= u'A' && value <= u'Z') || (value >= 0x80 && value != 0x2028 && value != 0x2029);
    if (plain) {
        out.push_back(value);
        return;
    }
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    out += u"\\u";  // PCRE2_ALT_BSUX reads \uHHHH
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(value >> shift) & 15]);
    }
}

void AppendCount(std::u16string& out, int value) {
    for (char c : std::to_string(value)) {
        out.push_back(static_cast<char16_t>(c));
    }
}

// The parsed pattern in PCRE2's syntax: the anchors and the dot get ECMAScript's line terminators
// (lookbehind stands in for ^), a backreference to a group that has not taken part matches empty
// (PCRE2_MATCH_UNSET_BACKREF, or an empty group for a reference before its group closes), and
// every literal is written so that PCRE2 can read nothing else
// into it.
std::u16string ToPcre2(const ParsedRegex& regex, bool multiline) {
    static const std::u16string kTerminators = u"\\n\\r\\u2028\\u2029";
    const std::u16string lineStart = multiline ? u"(?:\\A|(?<=[" + kTerminators + u"]))" : u"\\A";
    const std::u16string lineEnd = multiline ? u"(?:\\z|(?=[" + kTerminators + u"]))" : u"\\z";
    const std::u16string anyButBreak = u"[^" + kTerminators + u"]";

    std::u16string out;
    for (const RegexToken& token : regex.tokens) {
        switch (token.kind) {
            case Kind::kChar:
                AppendUnit(out, token.value);
                break;
            case Kind::kClass:
                if (token.ranges.empty() && token.types.empty()) {
                    // PCRE2 decides that a pattern with an optional empty class can never match
                    // ("a[]?" finds nothing in "a"); a class of everything or of nothing is
                    // read correctly.
                    out += token.negated ? u"[\\s\\S]" : u"[^\\s\\S]";
                    break;
                }
                out.push_back(u'[');
                if (token.negated) {
                    out.push_back(u'^');
                }
                for (const auto& [from, to] : token.ranges) {
                    AppendUnit(out, from);
                    if (to != from) {
                        out.push_back(u'-');
                        AppendUnit(out, to);
                    }
                }
                for (char16_t type : token.types) {
                    out.push_back(u'\\');
                    out.push_back(type);
                }
                out.push_back(u']');
                break;
            case Kind::kDot:
                out += anyButBreak;
                break;
            case Kind::kLineStart:
                out += lineStart;
                break;
            case Kind::kLineEnd:
                out += lineEnd;
                break;
            case Kind::kWordBoundary:
                out += u"\\b";
                break;
            case Kind::kNotWordBoundary:
                out += u"\\B";
                break;
            case Kind::kType:
                out.push_back(u'\\');
                out.push_back(token.value);
                break;
            case Kind::kGroup:
                out.push_back(u'(');
                break;
            case Kind::kNonCapturing:
                out += u"(?:";
                break;
            case Kind::kLookahead:
                out += u"(?=";
                break;
            case Kind::kNegativeLookahead:
                out += u"(?!";
                break;
            case Kind::kClose:
                out.push_back(u')');
                break;
            case Kind::kAlternative:
                out.push_back(u'|');
                break;
            case Kind::kQuantifier:
                out.push_back(u'{');
                AppendCount(out, token.min);
                if (token.max != token.min) {
                    out.push_back(u',');
                    if (token.max >= 0) {
                        AppendCount(out, token.max);
                    }
                }
                out.push_back(u'}');
                if (token.lazy) {
                    out.push_back(u'?');
                }
                break;
            case Kind::kBackreference:
                if (token.forward) {
                    out += u"(?:)";  // PCRE2 would see the group's text from an earlier round
                    break;
                }
                out += u"\\g{";
                AppendCount(out, token.group);
                out.push_back(u'}');
                break;
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

// Compiled patterns are kept, so that a pattern run again and again (the line-break trimming of
// every reply) is read and compiled once. The compiled code is read-only and may be shared by
// threads. A pattern that does not compile is kept too, as a null.
std::shared_ptr<pcre2_code> CompilePattern(std::u16string_view pattern, bool caseSensitive, bool multiline) {
    static std::mutex mutex;
    static std::map<std::tuple<std::u16string, bool, bool>, std::shared_ptr<pcre2_code>, std::less<>> cache;
    constexpr std::size_t kCacheLimit = 64;

    auto key = std::make_tuple(std::u16string(pattern), caseSensitive, multiline);
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) {
        return it->second;
    }
    std::shared_ptr<pcre2_code> code;
    if (const std::optional<ParsedRegex> parsed = ParseRegex(pattern)) {
        const std::u16string translated = ToPcre2(*parsed, multiline);
        uint32_t options =
            PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS | PCRE2_NEVER_BACKSLASH_C | PCRE2_MATCH_UNSET_BACKREF;
        if (!caseSensitive) {
            options |= PCRE2_CASELESS;
        }
        int error = 0;
        PCRE2_SIZE errorOffset = 0;
        if (pcre2_code* raw = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                            options, &error, &errorOffset, nullptr)) {
            pcre2_jit_compile(raw, PCRE2_JIT_COMPLETE);  // optional: matching works without it
            code.reset(raw, CodeDeleter());
        }
    }
    if (cache.size() >= kCacheLimit) {
        cache.clear();
    }
    cache.emplace(std::move(key), code);
    return code;
}

class Pcre2Engine final : public RegexEngine {
public:
    std::optional<RegexSearchResult> Search(std::u16string_view pattern, std::u16string_view subject,
                                            bool caseSensitive, bool multiline, bool global) const override {
        const std::shared_ptr<pcre2_code> code = CompilePattern(pattern, caseSensitive, multiline);
        if (!code) {
            return std::nullopt;
        }
        RegexSearchResult found;
        uint32_t captures = 0;
        pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
        found.captureCount = static_cast<int>(captures);

        std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
            pcre2_match_data_create_from_pattern(code.get(), nullptr));
        const auto* subj = reinterpret_cast<PCRE2_SPTR>(subject.data());
        const std::size_t length = subject.size();
        std::size_t offset = 0;
        // The subject is checked for valid UTF-16 by the first search only; checking it again at
        // every match of a global search would cost the whole subject each time.
        uint32_t matchOptions = 0;
        while (offset <= length) {
            const int rc = pcre2_match(code.get(), subj, length, offset, matchOptions, data.get(), nullptr);
            matchOptions = PCRE2_NO_UTF_CHECK;
            if (rc < 0) {
                found.gaveUp = rc != PCRE2_ERROR_NOMATCH;
                break;
            }
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
            std::vector<std::pair<std::size_t, std::size_t>> groups(captures + 1);
            for (uint32_t g = 0; g <= captures; ++g) {
                if (g < static_cast<uint32_t>(rc) && ov[2 * g] != PCRE2_UNSET) {
                    groups[g] = {ov[2 * g], ov[2 * g + 1]};
                } else {
                    groups[g] = {RegexSearchResult::kUnset, RegexSearchResult::kUnset};
                }
            }
            const std::size_t start = ov[0];
            const std::size_t end = ov[1];
            found.matches.push_back(std::move(groups));
            if (!global) {
                break;
            }
            if (end > start) {
                offset = end;
            } else {
                // An empty match: go on one character further, as the script engine does.
                offset = end + ((end < length && IsHighSurrogate(subject[end])) ? 2 : 1);
            }
        }
        return found;
    }
};

}  // namespace

const RegexEngine& Pcre2RegexEngine() {
    static const Pcre2Engine engine;
    return engine;
}

}  // namespace qj

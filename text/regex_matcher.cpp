#include "text/regex_matcher.h"

#include <cstring>
#include <utility>
#include <vector>

#include "text/code_page.h"
#include "text/regex_engine.h"
#include "text/text_helpers.h"

namespace qj {

namespace {
constexpr std::size_t kUnset = RegexSearchResult::kUnset;
}  // namespace

const RegexEngine& ProductRegexEngine() {
#if QJ_REGEX_HAVE_PCRE2
    return Pcre2RegexEngine();
#else
    return StdRegexEngine();
#endif
}

struct RegexMatcher::Compiled {
    Text pattern;  // as written, after the placeholder replacement
};

struct RegexMatcher::Matches {
    std::u16string subject;
    // Per match, [start, end) in UTF-16 units of group 0, 1, 2, ...; kUnset for a group that did not
    // take part.
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> groups;
    int captureCount = 0;
};

RegexMatcher::RegexMatcher() : RegexMatcher(ProductRegexEngine()) {}
RegexMatcher::RegexMatcher(const RegexEngine& engine) : engine_(&engine) {}
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
    auto found = std::make_shared<Matches>();
    found->subject = GbkToUtf16(subject_);
    std::optional<RegexSearchResult> result =
        engine_->Search(GbkToUtf16(compiled->pattern), found->subject, caseSensitive, multiline, global);
    if (!result) {
        return false;
    }
    found->groups = std::move(result->matches);
    found->captureCount = result->captureCount;
    regex_ = std::move(compiled);
    matches_ = std::move(found);
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

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qj {

// What one search of a pattern over a subject found, in UTF-16 units.
struct RegexSearchResult {
    static constexpr std::size_t kUnset = static_cast<std::size_t>(-1);
    // Per match, [start, end) of group 0, 1, 2, ...; kUnset for a group that did not take part.
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> matches;
    int captureCount = 0;
    // The engine's step limit ended the search (a pattern that backtracks without end); the
    // matches found before stand.
    bool gaveUp = false;
};

// The machine that runs a pattern of the script dialect (see regex_dialect.h) over UTF-16 text.
// Engines differ in their insides only: every engine gives the same answer to the same question.
// Implementations are stateless apart from caches and may be used by many threads at once.
class RegexEngine {
public:
    virtual ~RegexEngine() = default;

    // Every match (only the first unless global) of `pattern` in `subject`; after an empty match
    // the search goes on one character further. nullopt when the pattern is invalid. In
    // multi-line mode ^ and $ match at every CR, LF, U+2028 and U+2029; the dot never matches
    // one of those. Without caseSensitive, letters match their other cases as Unicode's simple
    // case folding has them; \d, \s, \w and \b are ASCII.
    virtual std::optional<RegexSearchResult> Search(std::u16string_view pattern, std::u16string_view subject,
                                                    bool caseSensitive, bool multiline, bool global) const = 0;
};

// The engine the program uses: PCRE2 where it is built, the C++ library's elsewhere.
const RegexEngine& ProductRegexEngine();

#if QJ_REGEX_HAVE_PCRE2
const RegexEngine& Pcre2RegexEngine();
#endif
// The C++ standard library's regular expressions; a subject must hold no surrogate units.
const RegexEngine& StdRegexEngine();

}  // namespace qj

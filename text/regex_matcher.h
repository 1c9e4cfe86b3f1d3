#pragma once

#include <memory>

#include "text/types.h"

namespace qj {

class RegexEngine;

// A regular expression run over a text, with the dialect and options of a classic script engine's
// RegExp object: ECMAScript syntax; in multi-line mode ^ and $ match at every CR and every LF (each
// is a line terminator of its own, as are U+2028 and U+2029); "." never matches a line break;
// "$1", "$&", "$`", "$'" and "$$" in replacements. The subject is matched as UTF-16, so engine
// offsets are UTF-16 units; the positions handed out are byte offsets in the GBK subject.
//
// Nothing fails loudly: before a successful Run, or after a failed one (an invalid pattern), the
// queries give empty text and 0, and Replace gives empty text. Match and group indexes are 1-based.
class RegexMatcher {
public:
    RegexMatcher();  // with the program's engine
    explicit RegexMatcher(const RegexEngine& engine);
    ~RegexMatcher();
    // A copy shares the compiled pattern and the matches of the last Run and holds its own subject.
    RegexMatcher(const RegexMatcher& other);
    RegexMatcher& operator=(const RegexMatcher& other);

    // Compiles `pattern` and executes it on `subject` (up to its first zero byte). With
    // quotePlaceholder, every "#引号" in the pattern stands for a quotation mark. Returns false
    // when the pattern is invalid.
    [[nodiscard]] bool Run(const Text& pattern, const Text& subject, bool caseSensitive = false, bool multiline = true,
                           bool global = true, bool quotePlaceholder = false);

    Text GetPattern() const;
    // The subject with every match (the first one unless global) replaced.
    Text Replace(const Text& replacement) const;
    int MatchCount() const;
    // Text of match `index`; `position`, when given, receives its 0-based byte offset in the
    // subject (-1 when there is no such match).
    Text MatchText(int index, int* position = nullptr) const;
    // Text of capture group `group` of match `index`; empty for a group that did not take part.
    Text SubmatchText(int index, int group, int* position = nullptr) const;
    // The number of capture groups (0 when nothing matched).
    int SubmatchCount() const;

private:
    struct Compiled;
    struct Matches;

    Text GroupText(int index, int group, int* position) const;

    const RegexEngine* engine_;
    std::shared_ptr<const Compiled> regex_;
    std::shared_ptr<const Matches> matches_;
    Text subject_;
};

}  // namespace qj

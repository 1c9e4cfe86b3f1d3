#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qj {

// A pattern of the script dialect (ECMAScript as the classic RegExp object reads it, over UTF-16
// units) taken apart into the pieces an engine needs, with every escape already resolved, so that
// each engine writes the same meaning in its own syntax and no engine's reading of an odd corner
// decides what a pattern means.
struct RegexToken {
    enum class Kind {
        kChar,               // one code unit: `value`
        kClass,              // [...]: `negated`, `ranges`, `types`
        kDot,                // any unit but a line break
        kLineStart,          // ^
        kLineEnd,            // $
        kWordBoundary,       // \b
        kNotWordBoundary,    // \B
        kType,               // \d \D \s \S \w \W outside a class: `value` is the letter
        kGroup,              // "(": capturing group number `group`
        kNonCapturing,       // "(?:"
        kLookahead,          // "(?="
        kNegativeLookahead,  // "(?!"
        kClose,              // ")"
        kAlternative,        // "|"
        kQuantifier,         // `min`, `max` (-1: no limit), `lazy`
        kBackreference,      // \n to capturing group `group`
    };
    Kind kind = Kind::kChar;
    char16_t value = 0;
    bool negated = false;
    std::vector<std::pair<char16_t, char16_t>> ranges;  // inclusive, single characters as [c, c]
    std::u16string types;                               // class escapes inside a class, by letter
    int group = 0;
    // kBackreference: the group has not closed yet (a reference before or inside its group). In
    // the dialect such a reference always matches empty: the group is either not reached yet or
    // cleared when the repetition around both starts its next round.
    bool forward = false;
    int min = 0;
    int max = -1;
    bool lazy = false;
};

struct ParsedRegex {
    std::vector<RegexToken> tokens;
    int groups = 0;  // capturing groups
};

// The largest count a brace quantifier may give.
inline constexpr int kRegexMaxRepeat = 65535;

// Reads a pattern of the dialect. Gives nullopt for syntax the dialect refuses (or that has no
// single meaning): unbalanced parentheses, an unclosed class, a range out of order or with a class
// escape at one end, a quantifier with nothing to repeat or behind another quantifier or an anchor
// (so no possessive "a*+"), counts beyond kRegexMaxRepeat or out of order, group forms other than
// "(?:", "(?=" and "(?!", letter escapes the dialect does not know ("\A", "\z", "\h", "\p"...),
// "\c" without a letter, "\u" escapes of surrogates, a lone backslash at the end.
//
// What the dialect accepts is resolved as it reads it: "\1" without a first group and other
// decimal escapes beyond the group count are octal escapes ("\8" and "\9" the digits themselves),
// "\v" is the vertical tab alone, "\x" and "\u" without their hex digits are the letters, "[" in a
// class is a plain character, a "{" that starts no count is a plain character.
std::optional<ParsedRegex> ParseRegex(std::u16string_view pattern);

}  // namespace qj

#include "text/regex_dialect.h"

namespace qj {

namespace {

using Kind = RegexToken::Kind;

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool IsOctalDigit(char16_t c) {
    return c >= u'0' && c <= u'7';
}

bool IsSurrogate(unsigned c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

int HexValue(char16_t c) {
    if (IsDigit(c)) {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

bool IsTypeLetter(char16_t c) {
    return std::u16string_view(u"dDsSwW").find(c) != std::u16string_view::npos;
}

// Capturing groups of a pattern: "(" outside a class, unescaped, not followed by "?". Decimal
// escapes are read against this count, so a reference may come before its group.
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

// One escape, read from the character behind the backslash.
struct Escape {
    enum class What { kChar, kType, kBackreference, kWordBoundary, kNotWordBoundary, kInvalid };
    What what = What::kInvalid;
    char16_t value = 0;  // the character, or the type letter
    int group = 0;
};

class Parser {
public:
    explicit Parser(std::u16string_view pattern) : p_(pattern), groups_(CountCapturingGroups(pattern)) {}

    std::optional<ParsedRegex> Parse() {
        ParsedRegex out;
        out.groups = groups_;
        enum class Last { kAtom, kAnchor, kQuantifier };
        Last last = Last::kAnchor;  // nothing to repeat at the start
        std::vector<int> open;  // per open parenthesis, its group number or 0
        std::vector<bool> closed(static_cast<std::size_t>(groups_) + 1, false);
        int nextGroup = 0;
        while (i_ < p_.size()) {
            const char16_t c = p_[i_];
            RegexToken token;
            if (c == u'\\') {
                ++i_;
                const Escape e = ReadEscape(false);
                switch (e.what) {
                    case Escape::What::kInvalid:
                        return std::nullopt;
                    case Escape::What::kChar:
                        token.value = e.value;
                        break;
                    case Escape::What::kType:
                        token.kind = Kind::kType;
                        token.value = e.value;
                        break;
                    case Escape::What::kBackreference:
                        token.kind = Kind::kBackreference;
                        token.group = e.group;
                        token.forward = !closed[static_cast<std::size_t>(e.group)];
                        break;
                    case Escape::What::kWordBoundary:
                    case Escape::What::kNotWordBoundary:
                        token.kind =
                            e.what == Escape::What::kWordBoundary ? Kind::kWordBoundary : Kind::kNotWordBoundary;
                        out.tokens.push_back(std::move(token));
                        last = Last::kAnchor;
                        continue;
                }
                out.tokens.push_back(std::move(token));
                last = Last::kAtom;
                continue;
            }
            if (c == u'*' || c == u'+' || c == u'?' || (c == u'{' && IsBraceQuantifier())) {
                if (last != Last::kAtom || !ReadQuantifier(token)) {
                    return std::nullopt;
                }
                out.tokens.push_back(std::move(token));
                last = Last::kQuantifier;
                continue;
            }
            ++i_;
            last = Last::kAtom;
            switch (c) {
                case u'[':
                    if (!ReadClass(token)) {
                        return std::nullopt;
                    }
                    break;
                case u'(':
                    open.push_back(0);
                    last = Last::kAnchor;
                    if (i_ < p_.size() && p_[i_] == u'?') {
                        if (i_ + 1 >= p_.size()) {
                            return std::nullopt;
                        }
                        const char16_t form = p_[i_ + 1];
                        if (form == u':') {
                            token.kind = Kind::kNonCapturing;
                        } else if (form == u'=') {
                            token.kind = Kind::kLookahead;
                        } else if (form == u'!') {
                            token.kind = Kind::kNegativeLookahead;
                        } else {
                            return std::nullopt;
                        }
                        i_ += 2;
                    } else {
                        token.kind = Kind::kGroup;
                        token.group = ++nextGroup;
                        open.back() = token.group;
                    }
                    break;
                case u')':
                    if (open.empty()) {
                        return std::nullopt;
                    }
                    closed[static_cast<std::size_t>(open.back())] = true;
                    open.pop_back();
                    token.kind = Kind::kClose;
                    break;
                case u'|':
                    token.kind = Kind::kAlternative;
                    last = Last::kAnchor;
                    break;
                case u'^':
                case u'$':
                    token.kind = c == u'^' ? Kind::kLineStart : Kind::kLineEnd;
                    last = Last::kAnchor;
                    break;
                case u'.':
                    token.kind = Kind::kDot;
                    break;
                default:
                    token.value = c;
            }
            out.tokens.push_back(std::move(token));
        }
        if (!open.empty()) {
            return std::nullopt;
        }
        return out;
    }

private:
    // A brace quantifier ("{n}", "{n,}", "{n,m}") at the current position; otherwise the brace is
    // a plain character.
    bool IsBraceQuantifier() const {
        std::size_t j = i_ + 1;
        const auto digits = [&] {
            const std::size_t from = j;
            while (j < p_.size() && IsDigit(p_[j])) {
                ++j;
            }
            return j > from;
        };
        if (!digits()) {
            return false;
        }
        if (j < p_.size() && p_[j] == u',') {
            ++j;
            digits();
        }
        return j < p_.size() && p_[j] == u'}';
    }

    // A count of a brace quantifier; anything beyond the limit reads as the limit plus one.
    int ReadCount() {
        long value = 0;
        while (i_ < p_.size() && IsDigit(p_[i_])) {
            value = value * 10 + (p_[i_++] - u'0');
            if (value > kRegexMaxRepeat) {
                value = kRegexMaxRepeat + 1L;
            }
        }
        return static_cast<int>(value);
    }

    bool ReadQuantifier(RegexToken& token) {
        token.kind = Kind::kQuantifier;
        const char16_t c = p_[i_++];
        if (c == u'*') {
            token.min = 0;
        } else if (c == u'+') {
            token.min = 1;
        } else if (c == u'?') {
            token.min = 0;
            token.max = 1;
        } else {
            token.min = ReadCount();
            token.max = token.min;
            if (p_[i_] == u',') {
                ++i_;
                token.max = IsDigit(p_[i_]) ? ReadCount() : -1;
            }
            ++i_;  // the closing brace
            if (token.min > kRegexMaxRepeat || token.max > kRegexMaxRepeat ||
                (token.max >= 0 && token.max < token.min)) {
                return false;
            }
        }
        if (i_ < p_.size() && p_[i_] == u'?') {
            token.lazy = true;
            ++i_;
        }
        return true;
    }

    // A legacy octal escape starting at the current digit: up to three octal digits when the first
    // is 0 to 3, up to two when it is 4 to 7.
    char16_t ReadLegacyOctal() {
        const std::size_t limit = p_[i_] <= u'3' ? 3 : 2;
        unsigned value = 0;
        for (std::size_t used = 0; used < limit && i_ < p_.size() && IsOctalDigit(p_[i_]); ++used) {
            value = value * 8 + (p_[i_++] - u'0');
        }
        return static_cast<char16_t>(value);
    }

    // `count` hex digits at the current position, or -1 (and nothing read) when they are not there.
    long ReadHex(std::size_t count) {
        if (i_ + count > p_.size()) {
            return -1;
        }
        long value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const int digit = HexValue(p_[i_ + k]);
            if (digit < 0) {
                return -1;
            }
            value = value * 16 + digit;
        }
        i_ += count;
        return value;
    }

    Escape ReadEscape(bool inClass) {
        Escape out;
        if (i_ >= p_.size()) {
            return out;
        }
        const char16_t e = p_[i_];
        if (IsDigit(e)) {
            if (!inClass && e != u'0') {
                std::size_t j = i_;
                long number = 0;
                while (j < p_.size() && IsDigit(p_[j]) && number <= groups_) {
                    number = number * 10 + (p_[j++] - u'0');
                }
                while (j < p_.size() && IsDigit(p_[j])) {
                    number = groups_ + 1L;  // more digits than any group number has
                    ++j;
                }
                if (number <= groups_) {
                    i_ = j;
                    out.what = Escape::What::kBackreference;
                    out.group = static_cast<int>(number);
                    return out;
                }
            }
            out.what = Escape::What::kChar;
            if (e == u'8' || e == u'9') {
                out.value = e;
                ++i_;
            } else {
                out.value = ReadLegacyOctal();
            }
            return out;
        }
        ++i_;
        out.what = Escape::What::kChar;
        if (!IsAsciiLetter(e)) {
            out.value = e;  // an identity escape
            return out;
        }
        if (IsTypeLetter(e)) {
            out.what = Escape::What::kType;
            out.value = e;
            return out;
        }
        switch (e) {
            case u'b':
                if (inClass) {
                    out.value = u'\b';
                } else {
                    out.what = Escape::What::kWordBoundary;
                }
                return out;
            case u'B':
                out.what = inClass ? Escape::What::kInvalid : Escape::What::kNotWordBoundary;
                return out;
            case u'f':
                out.value = u'\f';
                return out;
            case u'n':
                out.value = u'\n';
                return out;
            case u'r':
                out.value = u'\r';
                return out;
            case u't':
                out.value = u'\t';
                return out;
            case u'v':
                out.value = u'\v';
                return out;
            case u'c':
                if (i_ >= p_.size() || !IsAsciiLetter(p_[i_])) {
                    out.what = Escape::What::kInvalid;
                } else {
                    out.value = static_cast<char16_t>(p_[i_++] % 32);
                }
                return out;
            case u'x':
            case u'u': {
                const long value = ReadHex(e == u'x' ? 2 : 4);
                if (value < 0) {
                    out.value = e;
                } else if (IsSurrogate(static_cast<unsigned>(value))) {
                    out.what = Escape::What::kInvalid;  // half a character is nothing a subject holds
                } else {
                    out.value = static_cast<char16_t>(value);
                }
                return out;
            }
            default:
                out.what = Escape::What::kInvalid;
                return out;
        }
    }

    // One member of a class: a character or a class escape (kType). kInvalid at a bad escape;
    // the caller has checked that a member is there.
    Escape ReadClassAtom() {
        const char16_t c = p_[i_++];
        if (c != u'\\') {
            Escape out;
            out.what = Escape::What::kChar;
            out.value = c;
            return out;
        }
        return ReadEscape(true);
    }

    // The class behind "[". A "]" right behind "[" or "[^" closes it (an empty class).
    bool ReadClass(RegexToken& token) {
        token.kind = Kind::kClass;
        if (i_ < p_.size() && p_[i_] == u'^') {
            token.negated = true;
            ++i_;
        }
        while (true) {
            if (i_ >= p_.size()) {
                return false;
            }
            if (p_[i_] == u']') {
                ++i_;
                return true;
            }
            const Escape from = ReadClassAtom();
            if (from.what == Escape::What::kInvalid) {
                return false;
            }
            const bool range = i_ + 1 < p_.size() && p_[i_] == u'-' && p_[i_ + 1] != u']';
            if (!range) {
                if (from.what == Escape::What::kType) {
                    token.types.push_back(from.value);
                } else {
                    token.ranges.emplace_back(from.value, from.value);
                }
                continue;
            }
            ++i_;  // the hyphen
            const Escape to = ReadClassAtom();
            if (to.what == Escape::What::kInvalid || from.what == Escape::What::kType ||
                to.what == Escape::What::kType || to.value < from.value) {
                return false;
            }
            token.ranges.emplace_back(from.value, to.value);
        }
    }

    std::u16string_view p_;
    std::size_t i_ = 0;
    const int groups_;
};

}  // namespace

std::optional<ParsedRegex> ParseRegex(std::u16string_view pattern) {
    return Parser(pattern).Parse();
}

}  // namespace qj

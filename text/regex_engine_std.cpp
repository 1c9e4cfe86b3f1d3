// The regular-expression engine on the C++ standard library (std::wregex, ECMAScript grammar).
//
// The library takes character classes, case mapping and line terminators from the ctype facet of
// the regex's locale; DialectCtype pins those down so the answers are the same on every system
// and the same as the PCRE2 engine's: \d, \s and \w are ASCII, case is Unicode's simple folding,
// and the line terminators are the dialect's. Each UTF-16 unit is one wchar_t (16 bits on Windows,
// 32 on Linux; the values are the same).
#include <algorithm>
#include <array>
#include <limits>
#include <locale>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "text/regex_case_fold.h"
#include "text/regex_dialect.h"
#include "text/regex_engine.h"

namespace qj {

namespace {

using Kind = RegexToken::Kind;

// A unit put in front of every subject so that the library always sees the character before a
// search's start (its "^", "\b" and lookaheads would otherwise take the start of a search for the
// start of the text). It is half a surrogate pair, which a subject never holds, and a line
// terminator, so "^" matches behind it and nothing else ever does.
constexpr wchar_t kSentinel = 0xDFFF;

bool IsHighSurrogate(wchar_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

// Case folding: for every unit, the one that stands for its set; and the members of every set.
// A set with an ASCII letter is represented by its lower-case letter, because the library looks
// class names ("w", "s"...) up through the same folding.
struct FoldTables {
    std::array<char16_t, 0x10000> canonical{};
    std::multimap<char16_t, char16_t> members;  // smallest -> every member but itself

    FoldTables() {
        for (unsigned u = 0; u < canonical.size(); ++u) {
            canonical[u] = static_cast<char16_t>(u);
        }
        for (const CaseFoldPair& pair : kCaseFoldPairs) {
            canonical[pair.character] = pair.smallest;
            members.emplace(pair.smallest, pair.character);
        }
        for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
            const char16_t smallest = canonical[letter];
            canonical[smallest] = letter;
            const auto [from, to] = members.equal_range(smallest);
            for (auto it = from; it != to; ++it) {
                canonical[it->second] = letter;
            }
        }
    }
};

const FoldTables& Folds() {
    static const FoldTables tables;
    return tables;
}

class DialectCtype final : public std::ctype<wchar_t> {
public:
    explicit DialectCtype(bool multiline) : std::ctype<wchar_t>(1), multiline_(multiline), folds_(Folds()) {}

protected:
    // Whether an ASCII character belongs to one named class; nothing from 0x80 does.
    static bool Member(mask named, wchar_t c) {
        if (c < 0 || c >= 0x80) {
            return false;
        }
        const bool isUpper = c >= L'A' && c <= L'Z';
        const bool isLower = c >= L'a' && c <= L'z';
        const bool isDigit = c >= L'0' && c <= L'9';
        if (named == space) {
            return c == L' ' || (c >= L'\t' && c <= L'\r');
        }
        if (named == blank) {
            return c == L' ' || c == L'\t';
        }
        if (named == cntrl) {
            return c < 0x20 || c == 0x7F;
        }
        if (named == upper) {
            return isUpper;
        }
        if (named == lower) {
            return isLower;
        }
        if (named == alpha) {
            return isUpper || isLower;
        }
        if (named == digit) {
            return isDigit;
        }
        if (named == xdigit) {
            return isDigit || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        }
        if (named == alnum) {
            return isUpper || isLower || isDigit;
        }
        if (named == punct) {
            return c > L' ' && c < 0x7F && !(isUpper || isLower || isDigit);
        }
        if (named == graph) {
            return c > L' ' && c < 0x7F;
        }
        if (named == print) {
            return c >= L' ' && c < 0x7F;
        }
        return false;
    }

    static constexpr std::array<mask, 12> kNamed = {space, blank, cntrl, upper, lower, alpha,
                                                    digit, xdigit, alnum, punct, graph, print};

    // Masks are unions of bits in the C library's own layout (on some, alpha holds upper's bit),
    // so a character is in a mask when it belongs to a named class the mask wholly holds.
    bool do_is(mask m, wchar_t c) const override {
        for (mask named : kNamed) {
            if ((m & named) == named && Member(named, c)) {
                return true;
            }
        }
        return false;
    }
    const wchar_t* do_is(const wchar_t* lo, const wchar_t* hi, mask* vec) const override {
        for (; lo < hi; ++lo, ++vec) {
            *vec = 0;
            for (mask named : kNamed) {
                if (Member(named, *lo)) {
                    *vec = static_cast<mask>(*vec | named);
                }
            }
        }
        return hi;
    }
    const wchar_t* do_scan_is(mask m, const wchar_t* lo, const wchar_t* hi) const override {
        while (lo < hi && !do_is(m, *lo)) {
            ++lo;
        }
        return lo;
    }
    const wchar_t* do_scan_not(mask m, const wchar_t* lo, const wchar_t* hi) const override {
        while (lo < hi && do_is(m, *lo)) {
            ++lo;
        }
        return lo;
    }
    // Both directions give the member that stands for the character's case set: the library compares
    // characters through these, and a class holds whole sets (see the class writer below).
    wchar_t do_tolower(wchar_t c) const override {
        return (c >= 0 && c < 0x10000) ? static_cast<wchar_t>(folds_.canonical[static_cast<std::size_t>(c)]) : c;
    }
    const wchar_t* do_tolower(wchar_t* lo, const wchar_t* hi) const override {
        for (; lo < hi; ++lo) {
            *lo = do_tolower(*lo);
        }
        return hi;
    }
    wchar_t do_toupper(wchar_t c) const override { return do_tolower(c); }
    const wchar_t* do_toupper(wchar_t* lo, const wchar_t* hi) const override { return do_tolower(lo, hi); }
    wchar_t do_widen(char c) const override { return static_cast<unsigned char>(c); }
    const char* do_widen(const char* lo, const char* hi, wchar_t* to) const override {
        for (; lo < hi; ++lo, ++to) {
            *to = static_cast<unsigned char>(*lo);
        }
        return hi;
    }
    // The library asks for a line terminator by narrowing a subject character to '\n' or '\r'.
    // Only ASCII narrows to ASCII, so no other character can act as a metacharacter.
    char do_narrow(wchar_t c, char fallback) const override {
        if (c == kSentinel) {
            return '\n';
        }
        if (c == L'\n' || c == L'\r' || c == 0x2028 || c == 0x2029) {
            return multiline_ ? '\n' : fallback;
        }
        return (c >= 0 && c < 0x80) ? static_cast<char>(c) : fallback;
    }
    const wchar_t* do_narrow(const wchar_t* lo, const wchar_t* hi, char fallback, char* to) const override {
        for (; lo < hi; ++lo, ++to) {
            *to = do_narrow(*lo, fallback);
        }
        return hi;
    }

private:
    const bool multiline_;
    const FoldTables& folds_;
};

const std::locale& DialectLocale(bool multiline) {
    static const std::locale single(std::locale::classic(), new DialectCtype(false));
    static const std::locale multi(std::locale::classic(), new DialectCtype(true));
    return multiline ? multi : single;
}

void AppendUnit(std::wstring& out, wchar_t value) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    out += L"\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(value >> shift) & 15]);
    }
}

void AppendNumber(std::wstring& out, int value) {
    for (char c : std::to_string(value)) {
        out.push_back(static_cast<wchar_t>(c));
    }
}

// A class's character ranges, with every other case of each member added when case is ignored
// (so that a set is wholly in or wholly out), sorted and merged.
std::vector<std::pair<char16_t, char16_t>> ClassRanges(const std::vector<std::pair<char16_t, char16_t>>& ranges,
                                                       bool caseSensitive) {
    std::vector<std::pair<char16_t, char16_t>> all = ranges;
    if (!caseSensitive) {
        const FoldTables& folds = Folds();
        const auto addSet = [&](char16_t smallest) {
            all.emplace_back(smallest, smallest);
            const auto [from, to] = folds.members.equal_range(smallest);
            for (auto it = from; it != to; ++it) {
                all.emplace_back(it->second, it->second);
            }
        };
        for (const auto& [from, to] : ranges) {
            for (const CaseFoldPair& pair : kCaseFoldPairs) {
                if (pair.character >= from && pair.character <= to) {
                    addSet(pair.smallest);
                }
            }
            // A smallest member has no pair of its own.
            for (auto it = folds.members.lower_bound(from); it != folds.members.end() && it->first <= to;
                 it = folds.members.upper_bound(it->first)) {
                addSet(it->first);
            }
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<std::pair<char16_t, char16_t>> merged;
    for (const auto& range : all) {
        if (!merged.empty() && static_cast<unsigned>(range.first) <= merged.back().second + 1u) {
            merged.back().second = std::max(merged.back().second, range.second);
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

struct StdCompiled {
    std::wregex regex;
    std::vector<int> groupIndex;  // for each group of the pattern (from 1), its number in `regex`; -1: never set
    int groups = 0;
};

// The parsed pattern in the library's ECMAScript. Every literal is a \u escape, so the library's
// reading of odd characters never matters. Its differences from the dialect are bridged here:
// - a backreference to a group that did not take part fails in the library and matches empty in
//   the dialect: a group that is referred to gets an empty marker group at its end, behind all
//   its alternatives, set exactly when the group is, and the reference becomes
//   (?:\marker\group|(?!\marker));
// - a reference to a group that has not closed yet is refused by the library: it can only match
//   empty, so it is written as an empty group;
// - the library cannot repeat a lookahead: with a minimum of 0 it becomes an optional group
//   around the lookahead ({0}: a group never tried), with a larger minimum the lookahead alone;
// - an empty class is written as a class of everything or of nothing.
std::wstring ToStd(const ParsedRegex& regex, bool caseSensitive, std::vector<int>& groupIndex) {
    const auto groups = static_cast<std::size_t>(regex.groups) + 1;
    // Per group, the outermost negative lookahead around it (numbered from 1 in order; 0: none).
    // The library keeps what such a group captured while the lookahead ran, though the lookahead
    // then failed the path; in the dialect the group is always unset behind it.
    std::vector<int> negativeAround(groups, 0);
    // The groups referred to from where their text counts, so those get a marker; and which
    // references (by token) are such.
    std::vector<bool> referred(groups, false);
    std::vector<bool> counts(regex.tokens.size(), false);
    {
        std::vector<Kind> open;
        int negatives = 0;
        int outermostNegative = 0;
        std::vector<bool> closedNegative(1, false);
        for (std::size_t i = 0; i < regex.tokens.size(); ++i) {
            const RegexToken& token = regex.tokens[i];
            switch (token.kind) {
                case Kind::kGroup:
                case Kind::kNonCapturing:
                case Kind::kLookahead:
                case Kind::kNegativeLookahead:
                    if (token.kind == Kind::kNegativeLookahead) {
                        closedNegative.push_back(false);
                        if (outermostNegative == 0) {
                            outermostNegative = ++negatives;
                        } else {
                            ++negatives;
                        }
                    }
                    if (token.kind == Kind::kGroup) {
                        negativeAround[static_cast<std::size_t>(token.group)] = outermostNegative;
                    }
                    open.push_back(token.kind);
                    break;
                case Kind::kClose:
                    open.pop_back();
                    if (outermostNegative != 0 &&
                        std::find(open.begin(), open.end(), Kind::kNegativeLookahead) == open.end()) {
                        closedNegative[static_cast<std::size_t>(outermostNegative)] = true;
                        outermostNegative = 0;
                    }
                    break;
                case Kind::kBackreference: {
                    const auto g = static_cast<std::size_t>(token.group);
                    if (!token.forward && !closedNegative[static_cast<std::size_t>(negativeAround[g])]) {
                        referred[g] = true;
                        counts[i] = true;
                    }
                    break;
                }
                default:
                    break;
            }
        }
    }

    struct Open {
        Kind kind;
        std::size_t at;  // where the group starts in the output
        int group;
    };
    std::vector<Open> open;
    std::vector<int> stdIndex(groups, 0);
    std::vector<int> markerIndex(groups, 0);
    groupIndex.assign(groups, 0);
    int nextIndex = 0;
    std::optional<Open> lastClosed;  // the group that just closed, while a quantifier may follow

    std::wstring out;
    for (std::size_t i = 0; i < regex.tokens.size(); ++i) {
        const RegexToken& token = regex.tokens[i];
        std::optional<Open> justClosed;
        switch (token.kind) {
            case Kind::kChar:
                AppendUnit(out, token.value);
                break;
            case Kind::kClass: {
                const auto ranges = ClassRanges(token.ranges, caseSensitive);
                if (ranges.empty() && token.types.empty()) {
                    out += token.negated ? L"[\\s\\S]" : L"[^\\s\\S]";
                    break;
                }
                out.push_back(L'[');
                if (token.negated) {
                    out.push_back(L'^');
                }
                for (const auto& [from, to] : ranges) {
                    AppendUnit(out, from);
                    if (to != from) {
                        out.push_back(L'-');
                        AppendUnit(out, to);
                    }
                }
                for (char16_t type : token.types) {
                    out.push_back(L'\\');
                    out.push_back(static_cast<wchar_t>(type));
                }
                out.push_back(L']');
                break;
            }
            case Kind::kDot:
                out += L"[^\\u000A\\u000D\\u2028\\u2029]";
                break;
            case Kind::kLineStart:
                out.push_back(L'^');
                break;
            case Kind::kLineEnd:
                out.push_back(L'$');
                break;
            case Kind::kWordBoundary:
                out += L"\\b";
                break;
            case Kind::kNotWordBoundary:
                out += L"\\B";
                break;
            case Kind::kType:
                out.push_back(L'\\');
                out.push_back(static_cast<wchar_t>(token.value));
                break;
            case Kind::kGroup:
                open.push_back({token.kind, out.size(), token.group});
                // The marker must follow every alternative of the group.
                out += referred[static_cast<std::size_t>(token.group)] ? L"((?:" : L"(";
                stdIndex[static_cast<std::size_t>(token.group)] = ++nextIndex;
                groupIndex[static_cast<std::size_t>(token.group)] =
                    negativeAround[static_cast<std::size_t>(token.group)] == 0 ? nextIndex : -1;
                break;
            case Kind::kNonCapturing:
            case Kind::kLookahead:
            case Kind::kNegativeLookahead:
                open.push_back({token.kind, out.size(), 0});
                out += token.kind == Kind::kNonCapturing ? L"(?:" : (token.kind == Kind::kLookahead ? L"(?=" : L"(?!");
                break;
            case Kind::kClose: {
                const Open group = open.back();
                open.pop_back();
                if (group.kind == Kind::kGroup) {
                    const auto g = static_cast<std::size_t>(group.group);
                    if (referred[g]) {
                        out += L")()";
                        markerIndex[g] = ++nextIndex;
                    }
                }
                out.push_back(L')');
                justClosed = group;
                break;
            }
            case Kind::kAlternative:
                out.push_back(L'|');
                break;
            case Kind::kQuantifier: {
                const bool assertion = lastClosed && (lastClosed->kind == Kind::kLookahead ||
                                                      lastClosed->kind == Kind::kNegativeLookahead);
                if (assertion) {
                    if (token.min > 0) {
                        break;
                    }
                    out.insert(lastClosed->at, L"(?:");
                    out += token.max == 0 ? L"){0}" : (token.lazy ? L")??" : L")?");
                    break;
                }
                if (token.min == 0 && token.max < 0) {
                    out.push_back(L'*');
                } else if (token.min == 1 && token.max < 0) {
                    out.push_back(L'+');
                } else if (token.min == 0 && token.max == 1) {
                    out.push_back(L'?');
                } else {
                    out.push_back(L'{');
                    AppendNumber(out, token.min);
                    if (token.max != token.min) {
                        out.push_back(L',');
                        if (token.max >= 0) {
                            AppendNumber(out, token.max);
                        }
                    }
                    out.push_back(L'}');
                }
                if (token.lazy) {
                    out.push_back(L'?');
                }
                break;
            }
            case Kind::kBackreference: {
                const auto g = static_cast<std::size_t>(token.group);
                if (!counts[i]) {
                    out += L"(?:)";  // the group cannot have a text here
                    break;
                }
                std::wstring marker = L"\\";
                AppendNumber(marker, markerIndex[g]);
                out += L"(?:" + marker + L"\\";
                AppendNumber(out, stdIndex[g]);
                out += L"|(?!" + marker + L"))";
                break;
            }
        }
        lastClosed = justClosed;
    }
    return out;
}

// Compiled patterns are kept, as the PCRE2 engine keeps its own; a pattern that does not compile
// is kept too, as a null.
std::shared_ptr<const StdCompiled> CompilePattern(std::u16string_view pattern, bool caseSensitive, bool multiline) {
    static std::mutex mutex;
    static std::map<std::tuple<std::u16string, bool, bool>, std::shared_ptr<const StdCompiled>> cache;
    constexpr std::size_t kCacheLimit = 64;

    auto key = std::make_tuple(std::u16string(pattern), caseSensitive, multiline);
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) {
        return it->second;
    }
    std::shared_ptr<StdCompiled> compiled;
    if (const std::optional<ParsedRegex> parsed = ParseRegex(pattern)) {
        compiled = std::make_shared<StdCompiled>();
        compiled->groups = parsed->groups;
        const std::wstring translated = ToStd(*parsed, caseSensitive, compiled->groupIndex);
        // Multi-line always: without it the sentinel alone ends a line (see DialectCtype).
        auto options = std::regex_constants::ECMAScript | std::regex_constants::multiline;
        if (!caseSensitive) {
            options |= std::regex_constants::icase;
        }
        try {
            compiled->regex.imbue(DialectLocale(multiline));
            compiled->regex.assign(translated, options);
        } catch (const std::exception&) {
            compiled.reset();  // beyond the library's limits (its automaton's size)
        }
    }
    if (cache.size() >= kCacheLimit) {
        cache.clear();
    }
    cache.emplace(std::move(key), compiled);
    return compiled;
}

// The library matches by recursion, a few hundred bytes of stack for every character a
// quantifier walks over, so a long subject is searched on a thread whose stack is reserved (not
// committed) in proportion to it.
constexpr std::size_t kInlineLimit = 2000;  // units that fit in any thread's stack
constexpr std::size_t kStackPerUnit = 1024;
constexpr std::size_t kStackBase = std::size_t{16} << 20;

template <typename Work>
void RunWithLargeStack(std::size_t units, Work& work) {
    if (units <= kInlineLimit) {
        work();
        return;
    }
    const std::size_t size = kStackBase + units * kStackPerUnit;
#ifdef _WIN32
    const auto entry = [](void* arg) -> DWORD {
        (*static_cast<Work*>(arg))();
        return 0;
    };
    if (HANDLE thread = CreateThread(nullptr, size, entry, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return;
    }
#else
    const auto entry = [](void* arg) -> void* {
        (*static_cast<Work*>(arg))();
        return nullptr;
    };
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        const bool started = pthread_attr_setstacksize(&attributes, size) == 0 &&
                             pthread_create(&thread, &attributes, entry, &work) == 0;
        pthread_attr_destroy(&attributes);
        if (started) {
            pthread_join(thread, nullptr);
            return;
        }
    }
#endif
    work();  // no thread to be had: the search may still fit
}

// A subject iterator that counts the library's steps over the subject. The library backtracks
// without limit, so a pattern like "(a*)*b" could take longer than the age of the universe; each
// search may take kStepLimit steps (and more on a long subject), and a search that needs more
// ends the whole search, as PCRE2 ends one at its match limit.
constexpr long kStepLimit = 10'000'000;
constexpr long kStepsPerUnit = 64;

struct StepLimitReached {};

class CountingIterator {
public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = wchar_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const wchar_t*;
    using reference = const wchar_t&;

    CountingIterator() = default;
    CountingIterator(const wchar_t* at, long* steps) : at_(at), steps_(steps) {}
    // Copies count as well: the library copies positions into every state it tries.
    CountingIterator(const CountingIterator& other) : at_(other.at_), steps_(other.steps_) { Step(); }
    CountingIterator& operator=(const CountingIterator& other) {
        at_ = other.at_;
        steps_ = other.steps_;
        Step();
        return *this;
    }

    reference operator*() const { return *at_; }
    pointer operator->() const { return at_; }
    CountingIterator& operator++() {
        Step();
        ++at_;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    CountingIterator& operator--() {
        Step();
        --at_;
        return *this;
    }
    CountingIterator operator--(int) {
        CountingIterator before = *this;
        --*this;
        return before;
    }
    // Comparisons count too: the library's loops that match nothing compare without moving.
    bool operator==(const CountingIterator& other) const {
        Step();
        return at_ == other.at_;
    }
    bool operator!=(const CountingIterator& other) const { return !(*this == other); }
    const wchar_t* get() const { return at_; }

private:
    void Step() const {
        if (steps_ && --*steps_ < 0) {
            throw StepLimitReached();
        }
    }

    const wchar_t* at_ = nullptr;
    long* steps_ = nullptr;
};

class StdEngine final : public RegexEngine {
public:
    std::optional<RegexSearchResult> Search(std::u16string_view pattern, std::u16string_view subject,
                                            bool caseSensitive, bool multiline, bool global) const override {
        const std::shared_ptr<const StdCompiled> compiled = CompilePattern(pattern, caseSensitive, multiline);
        if (!compiled) {
            return std::nullopt;
        }
        RegexSearchResult found;
        found.captureCount = compiled->groups;
        std::wstring text;
        text.reserve(subject.size() + 1);
        text.push_back(kSentinel);
        text.append(subject.begin(), subject.end());
        auto work = [&] { FindAll(*compiled, text, global, found); };
        RunWithLargeStack(subject.size(), work);
        return found;
    }

private:
    static void FindAll(const StdCompiled& compiled, const std::wstring& text, bool global, RegexSearchResult& found) {
        const wchar_t* const base = text.data() + 1;  // the subject, behind the sentinel
        const std::size_t length = text.size() - 1;
        long steps = 0;
        std::match_results<CountingIterator> match;
        std::size_t offset = 0;
        const long limit = std::max(kStepLimit, kStepsPerUnit * static_cast<long>(length));
        while (offset <= length) {
            steps = limit;
            try {
                if (!std::regex_search(CountingIterator(base + offset, &steps), CountingIterator(base + length, &steps),
                                       match, compiled.regex, std::regex_constants::match_prev_avail)) {
                    break;
                }
            } catch (const StepLimitReached&) {
                found.gaveUp = true;
                break;
            } catch (const std::exception&) {
                found.gaveUp = true;  // the library gave up; what was found stands
                break;
            }
            steps = std::numeric_limits<long>::max();  // reading the answer takes no search steps
            const auto position = [&](int index) {
                if (index < 0 || !match[static_cast<std::size_t>(index)].matched) {
                    return std::make_pair(RegexSearchResult::kUnset, RegexSearchResult::kUnset);
                }
                const auto& sub = match[static_cast<std::size_t>(index)];
                return std::make_pair(static_cast<std::size_t>(sub.first.get() - base),
                                      static_cast<std::size_t>(sub.second.get() - base));
            };
            std::vector<std::pair<std::size_t, std::size_t>> groups(static_cast<std::size_t>(compiled.groups) + 1);
            groups[0] = position(0);
            for (std::size_t g = 1; g < groups.size(); ++g) {
                groups[g] = position(compiled.groupIndex[g]);
            }
            const auto [start, end] = groups[0];
            found.matches.push_back(std::move(groups));
            if (!global) {
                break;
            }
            if (end > start) {
                offset = end;
            } else {
                offset = end + ((end < length && IsHighSurrogate(base[end])) ? 2 : 1);
            }
        }
    }
};

}  // namespace

const RegexEngine& StdRegexEngine() {
    static const StdEngine engine;
    return engine;
}

}  // namespace qj

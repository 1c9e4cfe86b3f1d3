// libFuzzer target: the text toolkit. Properties: searches never match on the second byte of a
// double-byte character; replacing a marker by itself, or one that is absent, changes nothing;
// the pieces of a split, joined again, give the text; what is cut out of a text is a piece of it;
// valid GBK round-trips through UTF-8 and UTF-16; percent-encoding decodes to the bytes; a regular
// expression of any pattern is created or refused without a crash, its matches lie in the subject
// where it says, and replacing every match by itself gives the subject again; a text with its
// special characters escaped, as a pattern, matches where a search finds it; "^" and "$" of the
// multi-line mode match at the text's ends and at every CR and LF, "." at every other character.
#include "fuzz_support.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/regex_matcher.h"
#include "text/text_helpers.h"
#include "text/unescape.h"

namespace {

using qj::fuzz::Shown;

bool PieceOf(std::string_view piece, std::string_view whole) {
    return whole.find(piece) != std::string_view::npos;
}

bool StartsAUnit(std::string_view text, std::size_t at) {
    std::size_t i = 0;
    while (i < at) {
        i += qj::GbkUnitLength(text, i);
    }
    return i == at;
}

std::string PercentDecoded(std::string_view text) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

void CheckSearches(const std::string& text, const std::string& left, const std::string& right) {
    const std::string detail = Shown(text) + " with " + Shown(left) + " and " + Shown(right);
    const std::size_t found = qj::FindText(text, left);
    QJ_FUZZ_CHECK(found == qj::kNotFound || (text.compare(found, left.size(), left) == 0 && StartsAUnit(text, found)),
                  "found at " + std::to_string(found) + " in " + detail);
    QJ_FUZZ_CHECK(qj::ReplaceAll(text, left, left) == text, detail);
    if (found == qj::kNotFound) {
        QJ_FUZZ_CHECK(qj::ReplaceAll(text, left, right) == text, detail);
    }

    const qj::TextList pieces = qj::SplitText(text, left);
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        joined += (i == 0 ? "" : left) + pieces[i];
    }
    QJ_FUZZ_CHECK(joined == text || joined + left == text, "split " + detail);

    QJ_FUZZ_CHECK(PieceOf(qj::TextBetween(text, left, right), text), detail);
    QJ_FUZZ_CHECK(PieceOf(qj::TextLeftOf(text, left), text) && PieceOf(qj::TextRightOf(text, left), text), detail);
    qj::TextList items;
    const int count = qj::AllTextsBetween(text, left, right, items);
    QJ_FUZZ_CHECK(count == static_cast<int>(items.size()), detail);
    for (const qj::Text& item : items) {
        QJ_FUZZ_CHECK(PieceOf(item, text), "item " + Shown(item) + " of " + detail);
    }
    QJ_FUZZ_CHECK(qj::TrimLineBreaks(text).size() <= text.size(), detail);
}

void CheckCodePages(const std::string& text) {
    if (qj::fuzz::IsValidGbk(text)) {
        QJ_FUZZ_CHECK(qj::Utf16ToGbk(qj::GbkToUtf16(text)) == text, "UTF-16 " + Shown(text));
        QJ_FUZZ_CHECK(qj::Utf8ToAnsi(qj::AnsiToUtf8(text)) == text, "UTF-8 " + Shown(text));
        QJ_FUZZ_CHECK(qj::WideToText(qj::TextToWide(text, qj::kCodePageGbk), qj::kCodePageGbk) == text,
                      "wide " + Shown(text));
    }
    static_cast<void>(qj::Utf8ToAnsi(text));
    static_cast<void>(qj::WideToText(text, qj::kCodePageUtf8));
    static_cast<void>(qj::UnescapeUnicode(text));
    static_cast<void>(qj::UnicodeBytesToText(text));
    const std::string_view untilZero(text.c_str());
    for (const bool keepSafe : {false, true}) {
        QJ_FUZZ_CHECK(PercentDecoded(qj::UrlEncode(untilZero, keepSafe)) == untilZero, "percent " + Shown(text));
    }
}

void CheckRegex(const std::string& pattern, const std::string& text, unsigned flags) {
    const qj::Text subject(text.c_str());
    qj::RegexMatcher matcher;
    if (!matcher.Run(pattern, subject, flags & 1, flags & 2, flags & 4, flags & 8)) {
        return;
    }
    if (!qj::fuzz::IsValidGbk(subject)) {
        return;  // a byte the code page cannot read comes back as "?", not as itself
    }
    const std::string detail = "pattern " + Shown(pattern) + " on " + Shown(subject);
    for (int i = 1; i <= matcher.MatchCount(); ++i) {
        int position = -1;
        const qj::Text match = matcher.MatchText(i, &position);
        QJ_FUZZ_CHECK(
            position >= 0 && subject.compare(static_cast<std::size_t>(position), match.size(), match) == 0,
            "match " + std::to_string(i) + " " + Shown(match) + " at " + std::to_string(position) + ", " + detail);
        for (int group = 1; group <= matcher.SubmatchCount(); ++group) {
            int at = -1;
            const qj::Text part = matcher.SubmatchText(i, group, &at);
            QJ_FUZZ_CHECK(at < 0 ? part.empty() : subject.compare(static_cast<std::size_t>(at), part.size(), part) == 0,
                          "group " + std::to_string(group) + " of match " + std::to_string(i) + ", " + detail);
        }
    }
    QJ_FUZZ_CHECK(matcher.Replace("$&") == subject, "replace " + detail);
}

// The pattern that matches `text` literally: a backslash before each special character.
std::string Escaped(std::string_view text) {
    std::string pattern;
    for (std::size_t i = 0; i < text.size(); i += qj::GbkUnitLength(text, i)) {
        if (std::string_view("\\^$.*+?()[]{}|/").find(text[i]) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern.append(text.substr(i, qj::GbkUnitLength(text, i)));
    }
    return pattern;
}

// Where the matches of `pattern` start in the subject.
std::vector<int> MatchPositions(const std::string& pattern, const qj::Text& subject, bool multiline) {
    qj::RegexMatcher matcher;
    QJ_FUZZ_CHECK(matcher.Run(pattern, subject, true, multiline, true), "pattern " + Shown(pattern) + " refused");
    std::vector<int> positions;
    for (int i = 1; i <= matcher.MatchCount(); ++i) {
        int position = -1;
        static_cast<void>(matcher.MatchText(i, &position));
        positions.push_back(position);
    }
    return positions;
}

void CheckPatternMeanings(const std::string& needle, const qj::Text& subject) {
    const std::string detail = " on " + Shown(subject);
    if (!needle.empty() && qj::fuzz::IsValidGbk(needle)) {
        std::vector<int> found;
        for (std::size_t at = qj::FindText(subject, needle); at != qj::kNotFound;
             at = qj::FindText(subject, needle, at + needle.size())) {
            found.push_back(static_cast<int>(at));
        }
        QJ_FUZZ_CHECK(MatchPositions(Escaped(needle), subject, false) == found, "needle " + Shown(needle) + detail);
    }

    std::vector<int> lineStarts = {0};
    std::vector<int> lineEnds;
    std::vector<int> characters;
    for (std::size_t i = 0; i < subject.size(); i += qj::GbkUnitLength(subject, i)) {
        if (subject[i] == '\r' || subject[i] == '\n') {
            lineEnds.push_back(static_cast<int>(i));
            lineStarts.push_back(static_cast<int>(i + 1));
        } else {
            characters.push_back(static_cast<int>(i));
        }
    }
    lineEnds.push_back(static_cast<int>(subject.size()));
    QJ_FUZZ_CHECK(MatchPositions("^", subject, true) == lineStarts, "\"^\"" + detail);
    QJ_FUZZ_CHECK(MatchPositions("$", subject, true) == lineEnds, "\"$\"" + detail);
    QJ_FUZZ_CHECK(MatchPositions("^", subject, false) == std::vector<int>{0}, "\"^\" on one line" + detail);
    QJ_FUZZ_CHECK(MatchPositions(".", subject, true) == characters, "\".\"" + detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const unsigned flags = input.ConsumeIntegral<std::uint8_t>();
    const std::string left = input.ConsumeRandomLengthString(12);
    const std::string right = input.ConsumeRandomLengthString(12);
    const std::string pattern = input.ConsumeRandomLengthString(48);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CheckSearches(text, left, right);
    CheckCodePages(text);
    CheckRegex(pattern, text, flags);
    if (const qj::Text subject(text.c_str()); qj::fuzz::IsValidGbk(subject)) {
        CheckPatternMeanings(left, subject);
    }
    return 0;
}

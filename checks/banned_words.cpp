#include "checks/banned_words.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "settings/ini_file.h"
#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// ASCII capitals of whole one-byte characters in small letters; trail bytes stay what they are.
Text FoldedCase(std::string_view text) {
    Text folded(text);
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t length = GbkUnitLength(folded, i);
        if (length == 1) {
            folded[i] = LowerAscii(folded[i]);
        }
        i += length;
    }
    return folded;
}

// Without blanks of either width (ASCII ones, the full-width space) at either end.
std::string_view Trimmed(std::string_view text) {
    std::size_t begin = std::string_view::npos;
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = GbkUnitLength(text, i);
        const bool blank = length == 1 ? IsAsciiBlank(text[i]) : text.substr(i, 2) == "\xA1\xA1";
        if (!blank) {
            begin = std::min(begin, i);
            end = i + length;
        }
        i += length;
    }
    return begin == std::string_view::npos ? std::string_view() : text.substr(begin, end - begin);
}

}  // namespace

std::vector<BannedWord> ReadBannedWords(std::string_view fileBytes) {
    const Text text = IniDocument::FromFileBytes(fileBytes).text();
    std::vector<BannedWord> words;
    std::unordered_set<Text> seen;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = FindLineBreak(text, from);
        const std::string_view line = std::string_view(text).substr(from, end - from);
        from = end + 1;
        BannedWord entry;
        std::size_t equals = FindText(line, "=");
        std::size_t width = 1;
        if (const std::size_t wide = FindText(line, "＝"); wide < equals) {
            equals = wide;
            width = 2;
        }
        if (equals == kNotFound) {
            entry.word = Text(Trimmed(line));
        } else {
            entry.word = Text(Trimmed(line.substr(0, equals)));
            entry.replacement = Text(Trimmed(line.substr(equals + width)));
        }
        if (!entry.word.empty() && seen.insert(FoldedCase(entry.word)).second) {
            words.push_back(std::move(entry));
        }
    }
    return words;
}

BannedWords::BannedWords(const std::vector<BannedWord>& words) {
    for (const BannedWord& w : words) {
        if (!w.word.empty()) {
            words_.push_back({FoldedCase(w.word), w.replacement});
        }
    }
    // Bytes that occur in no word share one class: every transition on them is the same.
    for (const BannedWord& w : words_) {
        for (const char c : w.word) {
            std::uint16_t& cls = classOf_[static_cast<unsigned char>(c)];
            if (cls == 0) {
                cls = static_cast<std::uint16_t>(classes_++);
            }
        }
    }
    // The trie of the words; 0 in `next_` is "no child" while it is built (the root is no child).
    next_.assign(classes_, 0);
    word_.assign(1, -1);
    for (std::size_t w = 0; w < words_.size(); ++w) {
        std::uint32_t state = 0;
        for (const char c : words_[w].word) {
            std::uint32_t& child = next_[state * classes_ + classOf_[static_cast<unsigned char>(c)]];
            if (child == 0) {
                child = static_cast<std::uint32_t>(word_.size());
                word_.push_back(-1);
                next_.resize(next_.size() + classes_, 0);
            }
            state = next_[state * classes_ + classOf_[static_cast<unsigned char>(c)]];
        }
        if (word_[state] < 0) {
            word_[state] = static_cast<std::int32_t>(w);
        }
    }
    // Breadth first: every missing transition becomes the one of the state's fail state, which is
    // shallower and so complete already.
    std::vector<std::uint32_t> fail(word_.size(), 0);
    more_.assign(word_.size(), 0);
    std::deque<std::uint32_t> queue;
    for (std::size_t c = 0; c < classes_; ++c) {
        if (const std::uint32_t child = next_[c]) {
            queue.push_back(child);
        }
    }
    while (!queue.empty()) {
        const std::uint32_t state = queue.front();
        queue.pop_front();
        for (std::size_t c = 0; c < classes_; ++c) {
            std::uint32_t& to = next_[state * classes_ + c];
            const std::uint32_t viaFail = next_[fail[state] * classes_ + c];
            if (to == 0) {
                to = viaFail;
                continue;
            }
            fail[to] = viaFail;
            more_[to] = word_[viaFail] >= 0 ? viaFail : more_[viaFail];
            queue.push_back(to);
        }
    }
}

void BannedWords::Scan(std::string_view text, std::vector<Occurrence>& occurrences) const {
    std::vector<std::uint8_t> startsUnit(text.size() + 1, 1);
    bool afterLead = false;  // the byte before began a unit and is a lead byte
    std::uint32_t state = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        const bool start = !(afterLead && IsGbkTrailByte(b));
        startsUnit[i] = start;
        afterLead = start && IsGbkLeadByte(b);
        if (start && b >= 'A' && b <= 'Z') {
            b = static_cast<unsigned char>(b - 'A' + 'a');
        }
        state = next_[state * classes_ + classOf_[b]];
        for (std::uint32_t s = word_[state] >= 0 ? state : more_[state]; s != 0; s = more_[s]) {
            const auto w = static_cast<std::uint32_t>(word_[s]);
            const std::size_t begin = i + 1 - words_[w].word.size();
            // A word's last byte that is a lead byte would take the text's next byte along.
            const bool endsUnit =
                !(afterLead && i + 1 < text.size() && IsGbkTrailByte(static_cast<unsigned char>(text[i + 1])));
            if (startsUnit[begin] && endsUnit) {
                occurrences.push_back({begin, w});
            }
        }
    }
}

BannedWords::Result BannedWords::Apply(std::string_view text) const {
    Result result;
    std::vector<Occurrence> occurrences;
    if (!words_.empty()) {
        Scan(text, occurrences);
    }
    std::sort(occurrences.begin(), occurrences.end(), [this](const Occurrence& a, const Occurrence& b) {
        return a.start != b.start ? a.start < b.start : words_[a.word].word.size() > words_[b.word].word.size();
    });
    std::vector<bool> named(words_.size(), false);
    std::size_t copied = 0;
    for (const Occurrence& o : occurrences) {
        if (o.start < copied) {
            continue;  // inside an occurrence taken already
        }
        const BannedWord& w = words_[o.word];
        result.text.append(text.substr(copied, o.start - copied));
        copied = o.start + w.word.size();
        if (w.replacement) {
            result.text += *w.replacement;
            ++result.replaced;
        } else {
            result.text.append(text.substr(o.start, w.word.size()));
            if (!named[o.word]) {
                named[o.word] = true;
                result.found.push_back(Text(text.substr(o.start, w.word.size())));
            }
        }
    }
    result.text.append(text.substr(copied));
    return result;
}

}  // namespace qj

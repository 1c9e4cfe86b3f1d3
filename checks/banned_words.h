#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// One line of a word file: a word, and what replaces it when the article may keep its place.
struct BannedWord {
    Text word;
    std::optional<Text> replacement;  // nullopt: an article that holds the word is not taken
};

// The words of a word file (GBK, or UTF-8 or UTF-16 as a byte-order mark or the bytes say): one a
// line, "词=替换" (or "词＝替换") for a replacement, blanks around each part left out, empty lines
// skipped; a word listed twice keeps its first line.
std::vector<BannedWord> ReadBannedWords(std::string_view fileBytes);

// Finds every word of a list in one pass over a text, however many words the list holds: an
// automaton over the bytes of the words (Aho-Corasick, every transition in one table) that counts
// an occurrence only where it starts and ends on a character boundary of the GBK text, so that a
// word is never found across the halves of two characters. ASCII letters match without case. Where
// occurrences overlap, the one that starts first wins, and of those the longest.
class BannedWords {
public:
    BannedWords() = default;
    explicit BannedWords(const std::vector<BannedWord>& words);

    bool empty() const { return words_.empty(); }
    std::size_t size() const { return words_.size(); }

    struct Result {
        Text text;                // the words that have a replacement replaced
        std::vector<Text> found;  // the words without one that the text holds, each once, in order
        int replaced = 0;         // how many occurrences were replaced
    };
    Result Apply(std::string_view text) const;

private:
    struct Occurrence {
        std::size_t start = 0;
        std::uint32_t word = 0;
    };
    void Scan(std::string_view text, std::vector<Occurrence>& occurrences) const;

    std::vector<BannedWord> words_;  // as listed, ASCII letters of the word in small letters
    std::array<std::uint16_t, 256> classOf_{};
    std::size_t classes_ = 1;
    std::vector<std::uint32_t> next_;  // state * classes_ + class -> state
    std::vector<std::int32_t> word_;   // the word that ends at a state, -1 for none
    std::vector<std::uint32_t> more_;  // the next state on the fail chain that ends a word (0: none)
};

}  // namespace qj

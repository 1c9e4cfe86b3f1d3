#pragma once

// Made-up articles for the checks' tests and benchmarks: GBK text of common characters in
// sentences and paragraphs, the same for the same seed.

#include <random>
#include <string>

namespace qj::testing {

// A character of the first level of GBK's Chinese characters (the common ones).
inline std::string RandomHanzi(std::mt19937& random) {
    std::uniform_int_distribution<int> lead(0xB0, 0xD7), trail(0xA1, 0xFE);
    int l = lead(random), t = trail(random);
    if (l == 0xD7 && t > 0xF9) {
        t = 0xF9;  // the row ends early
    }
    return {static_cast<char>(l), static_cast<char>(t)};
}

// About `characters` characters: sentences of 8 to 30 characters ending in "，" or "。", a
// paragraph break (CR LF) after every few.
inline std::string RandomArticle(std::mt19937& random, std::size_t characters) {
    std::uniform_int_distribution<int> sentence(8, 30), ending(0, 2), paragraph(0, 5);
    std::string text;
    for (std::size_t written = 0; written < characters;) {
        const int length = sentence(random);
        for (int i = 0; i < length; ++i) {
            text += RandomHanzi(random);
        }
        written += length + 1;
        text += ending(random) == 0 ? "，" : "。";
        if (paragraph(random) == 0) {
            text += "\r\n";
        }
    }
    return text;
}

}  // namespace qj::testing

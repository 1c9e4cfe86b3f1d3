#include "checks/fingerprint.h"

#include <array>

#include "text/gbk.h"

namespace qj {

namespace {

// The character a unit counts as, 0 for one that is left out.
std::uint16_t CountedUnit(std::string_view text, std::size_t at, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1) {
        if (lead >= 'A' && lead <= 'Z') {
            return static_cast<std::uint16_t>(lead - 'A' + 'a');
        }
        const bool alnum = (lead >= 'a' && lead <= 'z') || (lead >= '0' && lead <= '9');
        return alnum ? lead : 0;  // blanks, ASCII punctuation, the euro sign, a lone lead byte
    }
    const auto trail = static_cast<unsigned char>(text[at + 1]);
    switch (lead) {
        case 0xA1:  // punctuation and symbols, the full-width space among them
        case 0xA2:  // enumerators: (1) 1. (i)
            return 0;
        case 0xA3:  // full-width forms: letters and digits count as ASCII, the rest is punctuation
            if (trail >= 0xB0 && trail <= 0xB9) {
                return static_cast<std::uint16_t>('0' + trail - 0xB0);
            }
            if (trail >= 0xC1 && trail <= 0xDA) {
                return static_cast<std::uint16_t>('a' + trail - 0xC1);
            }
            if (trail >= 0xE1 && trail <= 0xFA) {
                return static_cast<std::uint16_t>('a' + trail - 0xE1);
            }
            return 0;
        case 0xA6:  // Greek, then the vertical forms of punctuation
            return trail >= 0xE0 ? 0 : static_cast<std::uint16_t>(lead << 8 | trail);
        case 0xA8:  // symbols, then pinyin letters and bopomofo
            return trail < 0xA1 ? 0 : static_cast<std::uint16_t>(lead << 8 | trail);
        case 0xA9:  // box drawing and symbols; the ideographic zero of dates stays
            return trail == 0x96 ? static_cast<std::uint16_t>(lead << 8 | trail) : 0;
        default:
            return static_cast<std::uint16_t>(lead << 8 | trail);
    }
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The length of an HTML tag at `at` (<p>, </p>, <h2 class="x">), 0 when none starts there.
std::size_t TagLength(std::string_view text, std::size_t at) {
    constexpr std::size_t kLongestTag = 64;
    std::size_t i = at + 1;
    if (i < text.size() && text[i] == '/') {
        ++i;
    }
    if (i >= text.size() || !IsAsciiLetter(text[i])) {
        return 0;
    }
    for (; i < text.size() && i - at < kLongestTag; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '>') {
            return i - at + 1;
        }
        if (c == '<' || c >= 0x80 || c == '\r' || c == '\n') {
            return 0;
        }
    }
    return 0;
}

std::uint64_t Mix(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// byte value -> its eight bits spread over the eight bytes of a word, so that adding such words
// counts the ones of eight bit positions at once.
constexpr std::array<std::uint64_t, 256> kSpreadBits = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (v >> bit & 1) {
                table[v] |= std::uint64_t{1} << (8 * bit);
            }
        }
    }
    return table;
}();

// The ones of each of the 64 bit positions over every feature added.
class BitVotes {
public:
    void Add(std::uint64_t hash) {
        for (int group = 0; group < 8; ++group) {
            lanes_[group] += kSpreadBits[hash >> (8 * group) & 0xFF];
        }
        if (++pending_ == 255) {  // one more would overflow a lane
            Flush();
        }
        ++features_;
    }

    Fingerprint Result() {
        Flush();
        Fingerprint fingerprint = 0;
        for (int bit = 0; bit < 64; ++bit) {
            if (2 * ones_[bit] > features_) {
                fingerprint |= Fingerprint{1} << bit;
            }
        }
        return fingerprint;
    }

private:
    void Flush() {
        for (int group = 0; group < 8; ++group) {
            for (int lane = 0; lane < 8; ++lane) {
                ones_[8 * lane + group] += static_cast<long long>(lanes_[group] >> (8 * lane) & 0xFF);
            }
            lanes_[group] = 0;
        }
        pending_ = 0;
    }

    std::array<std::uint64_t, 8> lanes_{};
    std::array<long long, 64> ones_{};
    int pending_ = 0;
    long long features_ = 0;
};

}  // namespace

Fingerprint ArticleFingerprint(std::string_view text) {
    BitVotes votes;
    std::uint64_t window = 0;  // the last three counted characters, 16 bits each
    long long counted = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '<') {
            if (const std::size_t tag = TagLength(text, i)) {
                i += tag;
                continue;
            }
        }
        const std::size_t length = GbkUnitLength(text, i);
        const std::uint16_t unit = CountedUnit(text, i, length);
        i += length;
        if (unit == 0) {
            continue;
        }
        window = (window << 16 | unit) & 0xFFFF'FFFF'FFFFull;
        if (++counted >= 3) {
            votes.Add(Mix(window));
        }
    }
    if (counted == 0) {
        return 0;
    }
    if (counted < 3) {
        votes.Add(Mix(window | static_cast<std::uint64_t>(counted) << 48));
    }
    return votes.Result();
}

}  // namespace qj

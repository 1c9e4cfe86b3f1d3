#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

namespace qj {

// A 64-bit SimHash of an article: articles that say nearly the same thing have fingerprints that
// differ in few bits, unrelated ones in about half of them.
using Fingerprint = std::uint64_t;

// The fingerprint of a GBK text over its character 3-grams. Blanks and punctuation (ASCII and the
// GBK symbol rows) are left out, so are HTML tags such as <p> (an article saved as paragraphs has
// the fingerprint of its plain form); ASCII letters count without case, full-width letters and
// digits as their ASCII forms. A text of one or two characters is one feature; an empty one gives 0.
Fingerprint ArticleFingerprint(std::string_view gbk);

// How many bits two fingerprints differ in (0 to 64).
inline int FingerprintDistance(Fingerprint a, Fingerprint b) {
    return std::popcount(a ^ b);
}

}  // namespace qj

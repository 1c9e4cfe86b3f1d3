#pragma once

#include <string_view>

namespace qj {

// About how many tokens a model's tokenizer makes of a GBK text, for a reply that did not say
// what it counted: a Chinese (double-byte) character is about one token, a run of Latin letters,
// digits and signs about one per four bytes; line breaks and blanks count with the latter.
// Never below 1 for a text that is not empty.
long long EstimateTokens(std::string_view gbk);

}  // namespace qj

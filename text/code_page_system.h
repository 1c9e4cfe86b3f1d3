#pragma once

// What text/code_page.cpp takes from the system's converters (iconv on Linux, MultiByteToWideChar
// on Windows): one implementation per system beside it, chosen by the build. Everything else of the
// code pages (the walk over broken input, the tables built from these answers) is shared, so both
// systems give the same bytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace qj {

// One unit of code page 936 (a single byte, or a lead byte with its trail byte) as the system
// decodes it; 0 when the system has no character for it.
char16_t SystemDecodeGbkUnit(const char* bytes, std::size_t length);

// UTF-8 to UTF-16: a byte that starts no well-formed sequence becomes U+FFFD and decoding goes on
// at the next byte; a sequence cut off by the end of the text becomes one U+FFFD.
std::u16string SystemUtf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8: an unpaired surrogate becomes U+FFFD.
std::string SystemUtf16ToUtf8(std::u16string_view units);

}  // namespace qj

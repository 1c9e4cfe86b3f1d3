#pragma once

#include <string>
#include <string_view>

#include "text/types.h"

namespace qj {

inline constexpr int kCodePageAnsi = 0;  // the program's own code page: GBK
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// Decodes a text of the given code page (0 and 936: GBK, 65001: UTF-8) into UTF-16LE units, the
// terminating zero unit included: the empty text gives two zero bytes. Decoding stops at the first
// zero byte. Input the code page cannot decode (a broken UTF-8 sequence, a lone or unpaired GBK lead
// byte) yields U+FFFD for that unit and decoding goes on behind it. Another code page gives the
// zero unit alone.
Bytes TextToWide(std::string_view text, int codePage = kCodePageUtf8);

// Encodes UTF-16LE units, up to the first zero unit (an odd last byte is ignored), into the given
// code page. A character the code page lacks becomes "?"; an unpaired surrogate becomes "?" too.
Text WideToText(std::string_view wide, int codePage = kCodePageAnsi);

// GBK -> UTF-8 and UTF-8 -> GBK, through UTF-16. Both stop at the first zero byte.
Text AnsiToUtf8(std::string_view text);
Text Utf8ToAnsi(std::string_view text);

// GBK text as UTF-8 for the wire, and back; ASCII, by far the most common case, is passed as it is
// without a trip through the converter.
std::string GbkToWire(std::string_view text);
Text WireToGbk(std::string_view utf8);

// Whether `bytes` is well-formed UTF-8 without zero bytes.
bool IsCleanUtf8(std::string_view bytes);

// Percent-encodes the bytes of a text (of its UTF-8 form with utf8First). With keepSafe, the bytes
// "-", ".", 0-9, A-Z and a-z stay themselves; every other byte becomes "%" and two upper-case hex
// digits. No byte becomes "+".
Text UrlEncode(std::string_view text, bool keepSafe = false, bool utf8First = false);

// The GBK codec the conversions above use, for callers that work on UTF-16 themselves. Each GBK
// unit (one byte that is no lead byte, 0x80 the euro sign among them, or a lead byte of 0x81 to
// 0xFE with its trail byte) gives exactly one UTF-16 unit, U+FFFD when it cannot be decoded; so
// unit k of the result is the k-th unit of the text. Zero bytes are decoded like any other byte.
std::u16string GbkToUtf16(std::string_view gbk);
// UTF-16 to GBK; a character GBK lacks becomes "?". Zero units are encoded like any other unit.
std::string Utf16ToGbk(std::u16string_view utf16);

// Utf16ToGbk(GbkToUtf16(gbk)) without the UTF-16 copy: what a text that takes a way through UTF-16
// (a regular expression, an escape decoder) gives back, units GBK cannot decode as "?".
Text GbkRoundTrip(std::string_view gbk);
void AppendGbkRoundTrip(Text& out, std::string_view gbk);
// Length of the longest start of `gbk` whose units GbkRoundTrip gives back unchanged and which
// holds neither of the ASCII bytes `stop1` and `stop2`: lets a scan copy such text in one piece.
std::size_t GbkKeptSpan(std::string_view gbk, char stop1, char stop2);

}  // namespace qj

namespace qj {

// Byte offset in `gbk` of its UTF-16 unit number `unit` as GbkToUtf16 counts units (the text's
// size when `unit` is beyond its end).
std::size_t GbkByteOffsetOfUnit(std::string_view gbk, std::size_t unit);

}  // namespace qj

#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// How the bytes of a keyword list are read. The program's own text is GBK, but today's editors
// save UTF-8, so a list is taken as UTF-8 when it starts with the UTF-8 byte-order mark, or when
// its bytes are valid UTF-8 and hold at least one multi-byte sequence. Any other list, an empty or
// a pure ASCII one included, is GBK. The list's bytes decide each time they are read.
struct ListFormat {
    bool utf8 = false;
    std::size_t bomLength = 0;  // 3 when the list starts with the byte-order mark, which is no keyword
    bool operator==(const ListFormat&) const = default;
};
ListFormat DetectListFormat(std::string_view contents);

// The first line of a keyword list and the length of its line end: CR LF, LF or a lone CR (also a
// zero byte or 0x1A, which end the readable part of a text file). In a GBK list a trail byte never
// ends a line; in a UTF-8 list no byte of a multi-byte sequence can.
struct FirstLine {
    Text line;
    std::size_t terminatorLength = 0;
};
FirstLine ReadFirstLine(std::string_view contents, bool utf8 = false);

// The lines of a list file (CR LF, LF or CR line ends; empty lines kept, a last empty piece dropped).
TextList ListLines(const Bytes& contents, bool utf8 = false);

// A line of a list as the program's text. `lossy` tells whether characters that GBK lacks became "?".
Text KeywordFromLine(std::string_view line, bool utf8, bool* lossy = nullptr);

// The program's text as a line of a list in that format.
Bytes LineFromKeyword(const Text& keyword, bool utf8);

// The line end a list uses: LF when its first line ends in a lone LF, otherwise CR LF.
std::string_view LineEndOf(std::string_view contents);

// The list ready to have lines appended: its trailing empty lines dropped (lines behind an empty
// line would never be reached) and its last line ended. No other byte changes.
Bytes ListToAppendTo(const Bytes& list);

}  // namespace qj

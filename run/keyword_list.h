#pragma once

#include <optional>
#include <string_view>

#include "platform/file_system.h"
#include "platform/open_file.h"
#include "text/types.h"

namespace qj {

// The encodings a keyword list may be saved in: the program's own GBK ("ANSI"), UTF-8, and
// UTF-16 as Notepad saves "Unicode" (little endian) and "Unicode big endian".
enum class ListEncoding { kGbk, kUtf8, kUtf16Le, kUtf16Be };

// How the bytes of a keyword list are read. A byte-order mark decides, and is no keyword. Without
// one, a list that is not well-formed UTF-8, or has no character beyond ASCII, is GBK; a list that
// is both, as about 930 common Chinese characters in GBK also are valid two-byte UTF-8, is read the
// way that gives the more plausible Chinese text. UTF-16 is known by its mark alone (Notepad always
// writes one).
struct ListFormat {
    ListEncoding encoding = ListEncoding::kGbk;
    std::size_t bomLength = 0;  // of the mark the list starts with, which is no keyword
    bool operator==(const ListFormat&) const = default;
};
ListFormat DetectListFormat(std::string_view contents);

// The format of a list whose encoding is known already (decided when the run started): the mark
// is recognised when the list starts with that encoding's own.
ListFormat FormatIn(std::string_view contents, ListEncoding encoding);

// The encoding of the byte-order mark a line starts with, if it does.
std::optional<ListEncoding> MarkAtStart(std::string_view line);

// The encoding of a byte-order mark that a line of a list in `encoding` starts with, when it is
// another encoding's: files of two encodings were joined into one list, and from this line on it
// is in that other one. (A mark of the list's own encoding there is no part of the keyword.)
std::optional<ListEncoding> OtherEncodingMark(std::string_view line, ListEncoding encoding);

// "GBK", "UTF-8", "UTF-16LE", "UTF-16BE", and back.
const char* EncodingName(ListEncoding encoding);
std::optional<ListEncoding> EncodingNamed(std::string_view name);

inline bool IsUtf16(ListEncoding encoding) {
    return encoding == ListEncoding::kUtf16Le || encoding == ListEncoding::kUtf16Be;
}

// The first line of a keyword list and the length of its line end: CR LF, LF or a lone CR (also a
// zero byte or 0x1A, which end the readable part of a text file), in UTF-16 as two-byte units. In a
// GBK list a trail byte never ends a line; in a UTF-8 list no byte of a multi-byte sequence can; a
// UTF-16 list is cut only between units (an odd last byte belongs to the last line).
struct FirstLine {
    Bytes line;
    std::size_t terminatorLength = 0;
};
FirstLine ReadFirstLine(std::string_view contents, ListEncoding encoding = ListEncoding::kGbk);

// The lines of a list file (CR LF, LF or CR line ends; empty lines kept, a last empty piece dropped).
std::vector<Bytes> ListLines(std::string_view contents, ListEncoding encoding = ListEncoding::kGbk);

// Whether a line holds nothing but blanks (spaces, tabs, the full-width space), or nothing at all:
// such a line ends a run as an empty line does.
bool IsBlankLine(std::string_view line, ListEncoding encoding);

// The keywords of a list from `rest` on: its lines that are not blank, read in `encoding` and,
// from a line with another encoding's mark on, in that one.
int KeywordsIn(std::string_view rest, ListEncoding encoding);

// A line of a list as the program's text. `lossy` tells whether characters that GBK lacks became
// "?". A byte-order mark in front of the line (files joined into one list) is no part of the keyword.
Text KeywordFromLine(std::string_view line, ListEncoding encoding, bool* lossy = nullptr);

// The program's text as a line of a list in that encoding.
Bytes LineFromKeyword(const Text& keyword, ListEncoding encoding);

// A line of a Unicode list as UTF-8 (unchanged for UTF-8; GBK lines are converted too).
Bytes LineAsUtf8(std::string_view line, ListEncoding encoding);

// A line as it goes back into a list, in whole units: in UTF-16 the last line of a file cut short
// ends in half a unit, which a zero byte completes (0xFF where that would make a line end).
Bytes InWholeUnits(std::string_view line, ListEncoding encoding);

// The line end a list uses, in its encoding: LF when its first line ends in a lone LF, otherwise
// CR LF. `contents` starts behind the mark.
Bytes LineEndOf(std::string_view contents, ListEncoding encoding = ListEncoding::kGbk);

// The list ready to have lines appended: its trailing empty and blank lines dropped (lines behind
// them would never be reached) and its last line ended. No other byte changes.
Bytes ListToAppendTo(const Bytes& list, const ListFormat& format);

// Past this size a file is not read as a keyword list: the list is held in memory during a run.
inline constexpr unsigned long long kMaxListBytes = 512ull * 1024 * 1024;

// Reads a keyword list (or the failure list) whole; a missing file reads as empty, unstamped.
// Only a regular file is read: a pipe, a device or a folder is refused without waiting for it,
// and so is a file larger than kMaxListBytes, each with a reason a user can act on.
struct ListFile {
    Bytes contents;
    std::optional<FileIdentity> stamp;  // of the file read; none for a missing one
};
[[nodiscard]] Result<ListFile> ReadListFile(const Text& path);

}  // namespace qj

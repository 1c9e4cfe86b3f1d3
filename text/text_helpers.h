#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj {

inline constexpr std::size_t kNotFound = std::string_view::npos;

// Finds `needle` in `text` from the 0-based byte offset `from` on, stepping over double-byte
// characters so that a match never starts on a trail byte. With ignoreCase, ASCII letters compare
// without regard to case. An empty needle is never found. Returns the 0-based offset or kNotFound.
std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from = 0, bool ignoreCase = false);

// Every occurrence of `from` replaced by `to`, left to right, without re-scanning replaced text;
// searches step over double-byte characters.
Text ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Pieces between the occurrences of `separator`. An empty text gives no pieces; adjacent separators
// give an empty piece; an empty piece after the last separator is dropped.
TextList SplitText(std::string_view text, std::string_view separator);

// The text between the first `left` at or after the 1-based byte position `start` and the first
// `right` behind it; empty when either is missing. "#引号" in a marker stands for a quotation mark.
Text TextBetween(std::string_view text, std::string_view left, std::string_view right, int start = 1,
                 bool ignoreCase = false);

struct AllTextsOptions {
    int start = 1;  // 1-based byte position of the first search
    bool ignoreCase = false;
    std::optional<std::size_t> lengthLimit;  // items at least this long are left out
    Text prefix;
    Text suffix;
    bool includeLeft = false;
    bool includeRight = false;
};

// Every text between a `left` and the first `right` behind it; the next search starts right behind
// the previous left marker. `items` is emptied first; returns the number of items.
int AllTextsBetween(std::string_view text, std::string_view left, std::string_view right, TextList& items,
                    const AllTextsOptions& options = {});

// The text in front of the first `marker`; empty when it is absent.
Text TextLeftOf(std::string_view text, std::string_view marker);

// The text behind the last `marker` that does not end on the last byte of the text; empty when
// there is none.
Text TextRightOf(std::string_view text, std::string_view marker);

// Position of the first CR or LF at or after `from`; the text's size when there is none. Both are
// whole units of GBK and of UTF-8.
std::size_t FindLineBreak(std::string_view text, std::size_t from = 0);

// Removes one CR LF at the start and one at the end, then every CR that begins a line and every LF
// that ends one, so that runs of empty lines shrink to one line break.
Text TrimLineBreaks(std::string_view text);
// The same for a text that GbkRoundTrip gives back unchanged (what Utf16ToGbk or GbkRoundTrip
// made), without the look at every character that such a text does not need.
Text TrimLineBreaksOfRoundTrip(std::string_view text);

// Removes ASCII spaces (0x20) and full-width spaces (0xA1 0xA1) at both ends, stepping over
// double-byte characters; tabs, CR and LF stay.
Text TrimSpaces(std::string_view text);

// `text` with every occurrence of `needle` removed, ASCII letters compared without regard to case,
// stepping over double-byte characters.
Text RemoveEveryIgnoreCase(std::string_view text, std::string_view needle);

// The concatenation of the given byte sequences.
Bytes JoinBytes(std::initializer_list<std::string_view> parts);

// The hook that lets the window's thread handle its pending events while a long collection runs
// (AllTextsBetween calls it three times per item). The GUI sets it; it must do nothing when called
// from a thread other than the window's. Empty by default.
void SetPendingMessagesHook(std::function<void()> hook);

}  // namespace qj

#pragma once

#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj {

// Just enough of HTML and XML to find tags, the text between them and attribute values, in GBK or
// UTF-8 (every byte these rules look at is ASCII, which is never part of a double-byte character
// at the places they look).

// Whether a "<" at `at` opens markup (a tag, a closing tag, a comment, a declaration, a CDATA
// section or a processing instruction) rather than standing in the text.
bool OpensMarkup(std::string_view text, std::size_t at);

// Where the markup that opens at `at` ends: behind its ">" ("-->" of a comment; "]]>" of a CDATA
// section in XML, while HTML ends one at its first ">"); the text's end when it never closes.
// Quoted attribute values may hold ">".
std::size_t MarkupEnd(std::string_view text, std::size_t at, bool xml = false);

struct Tag {
    Text name;  // in lower case, a prefix included ("news:title"); empty for comments and the like
    bool closing = false;
    bool selfClosing = false;
    std::string_view LocalName() const;  // without the prefix
};
Tag ReadTag(std::string_view markup);

// The value of an attribute of a tag as written (quotes dropped, entities left); nullopt when the
// tag has no such attribute. Names match without regard to case.
std::optional<std::string_view> AttributeOf(std::string_view markup, std::string_view name);

// UTF-8 text with character references replaced: &amp; &lt; &gt; &quot; &apos; &nbsp; (a space),
// numbers (&#39; &#x4E2D;) and a few common typographic names; an unknown one stays as written.
std::string DecodeCharacterReferences(std::string_view utf8);

}  // namespace qj

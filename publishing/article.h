#pragma once

#include <string_view>

#include "text/types.h"

namespace qj::publishing {

// An article of the output folder as it is published.
struct Article {
    Text file;     // its file's name in the output folder ("关键词.txt")
    Text keyword;  // the keyword it was written for
    Text title;
    Text html;     // the body: paragraphs as <p> elements, CR LF between them
};

// The keyword of an article file's name: the name without ".txt" and without the "~" and 8-digit
// hash that a name changed for the file system carries.
Text KeywordOfFile(std::string_view fileName);

// Whether a line of an article reads as its title: short (at most kMaxTitleCharacters characters),
// not empty, and not ending as a sentence does (。！？；，：… and their ASCII forms, also in front of
// a closing quotation mark or bracket).
inline constexpr int kMaxTitleCharacters = 60;
bool ReadsAsTitle(std::string_view line);

// The article of a file's content (GBK), plain text or the paragraph form (<p> lines, maybe an
// <h1> line first). The title is an <h1> line, or the first line when it reads as a title (it is
// then left out of the body; markdown heading marks and a "标题：" in front are dropped), else the
// keyword. The body is the remaining lines as <p> elements; lines that are elements already stay
// as they are. A text of one line keeps it as its body.
Article MakeArticle(std::string_view file, std::string_view keyword, std::string_view content);

}  // namespace qj::publishing

#pragma once

#include <optional>
#include <string_view>

#include "templates/internal_links.h"
#include "text/types.h"

namespace qj {

// The title a title step's reply gives: its first line that holds text, without what models put
// around a title (a Markdown heading mark or bold marks, a list number, a label such as 标题：,
// enclosing quotation or book-title marks, a closing full stop). Empty when the reply holds none.
Text TitleFromReply(std::string_view reply);

// The article's body without a first line that repeats the title (models often write it again).
Text BodyWithoutTitleLine(const Text& title, const Text& body);

// The article in plain form: the title as its first line, then the body.
Text PlainArticleWithTitle(const Text& title, const Text& body);

// The title as the heading of an article in HTML form, in front of its paragraphs.
Text HtmlTitleHeading(const Text& title);

// The paragraph form of a text (the HTML option of the output).
using ParagraphForm = Text (*)(const Text& text);

// The article as its file holds it, from the article step's text and the title step's title (none
// without that step). In HTML form (`paragraphs` given): the title as an <h1> heading in front of
// the paragraphs, and the links placed in the text. In plain form: the title as the first line, and
// the links that the text's own words call for listed at the end under 相关阅读.
Text FinishArticle(const std::optional<Text>& title, const Text& text, ParagraphForm paragraphs, const LinkSet& links,
                   const LinkRules& rules);

}  // namespace qj

#pragma once

#include "text/types.h"

namespace qj {

// Stands for the keyword in a prompt template, every occurrence.
inline constexpr const char* kKeywordPlaceholder = "{\xB9\xD8\xBC\xFC\xB4\xCA}";  // {关键词}

// The template used when the user gave none: a complete Chinese article about the keyword, as
// plain paragraphs.
Text BuiltInPromptTemplate();

// The template with every placeholder replaced by the keyword (GBK in, GBK out).
Text FillPromptTemplate(const Text& promptTemplate, const Text& keyword);

// Whether the template names the keyword at all.
bool MentionsKeyword(const Text& promptTemplate);

}  // namespace qj

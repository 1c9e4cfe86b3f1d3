#include "services/prompt_template.h"

#include "text/text_helpers.h"

namespace qj {

Text BuiltInPromptTemplate() {
    return "请围绕关键词“{关键词}”写一篇完整的中文文章。要求：主题明确，结构清晰，分成若干自然段，内容充实准确，"
           "语言通顺自然，不少于800字。直接输出文章正文，不要标题，不要使用Markdown等任何格式符号，段落之间空一行。";
}

Text FillPromptTemplate(const Text& promptTemplate, const Text& keyword) {
    return ReplaceAll(promptTemplate, kKeywordPlaceholder, keyword);
}

bool MentionsKeyword(const Text& promptTemplate) {
    return FindText(promptTemplate, kKeywordPlaceholder) != kNotFound;
}

}  // namespace qj

#pragma once

#include <vector>

#include "text/types.h"

namespace qj {

inline constexpr int kDefaultContinuations = 2;
inline constexpr int kMaxContinuations = 5;
inline constexpr int kDefaultSimilarity = 3;
inline constexpr int kMaxSimilarity = 10;

// The user message that asks a model to go on with an article cut off at its length limit.
inline constexpr const char* kDefaultContinuationPrompt = "请从上文中断处继续写，不要重复已写的内容。";

// What is appended to the prompt when the article came out too close to an earlier one.
inline constexpr const char* kVariationHint = "（请换一个角度、换一种结构来写，举不同的例子，不要与常见的写法雷同。）";

// The refusal phrases the settings start with, one a line: what models open a refusal with, in
// Chinese and in English. Narrow enough that an article does not start with them by chance.
inline constexpr const char* kDefaultRefusalPhrases =
    "作为一个人工智能\r\n"
    "作为一个AI\r\n"
    "作为AI语言模型\r\n"
    "作为一个语言模型\r\n"
    "我无法提供\r\n"
    "我无法满足\r\n"
    "我无法完成\r\n"
    "我无法协助\r\n"
    "我不能提供\r\n"
    "我不能协助\r\n"
    "很抱歉，我\r\n"
    "抱歉，我无法\r\n"
    "抱歉，我不能\r\n"
    "I'm sorry, but\r\n"
    "I am sorry, but\r\n"
    "I'm sorry, I can\r\n"
    "I cannot help\r\n"
    "I can't help\r\n"
    "I cannot assist\r\n"
    "I can't assist\r\n"
    "I cannot provide\r\n"
    "I can't provide\r\n"
    "I'm unable to\r\n"
    "I am unable to\r\n"
    "As an AI\r\n"
    "as a language model";

// The settings of the article checks as the user typed them (GBK).
struct CheckSettingsText {
    Text continuations{};   // 0 to 5; empty: 2
    Text refusalPhrases{};  // one a line; empty (or only "-" lines): the check is off
    Text minCharacters{};   // empty or 0: the check is off
    Text bannedWordFile{};  // a path, relative ones in the program folder; empty: the check is off
    Text similarity{};      // 0 to 10 bits; empty or 0: the check is off
};

// The article checks of one run. Cut-off replies and replies stopped by review are always caught;
// the rest are on as these say. What a box holds that is no whole number counts as empty, a number
// beyond a bound as that bound.
struct CheckSettings {
    int continuations = kDefaultContinuations;  // continuations of a cut-off reply (interface three)
    Text continuationPrompt = kDefaultContinuationPrompt;
    std::vector<Text> refusalPhrases;  // none: no refusal check
    int minCharacters = 0;             // 0: no length check
    Text bannedWordFile{};             // the whole path; empty: no banned words
    int similarity = 0;                // 0: no duplicate check

    bool operator==(const CheckSettings&) const = default;
};

// `programFolder` is where a relative word file lies (ending in "/").
CheckSettings ReadCheckSettings(const CheckSettingsText& typed, const Text& programFolder);

}  // namespace qj

#include "checks/check_figures.h"

namespace qj {

bool CheckFigures::Any() const {
    for (const auto& count : stopped_) {
        if (count.load() > 0) {
            return true;
        }
    }
    return continuations() > 0 || replaced() > 0;
}

Text CheckFigures::ClosingLine(const CheckSettings& settings, bool bannedWordsOn) const {
    const auto count = [this](ArticleCheck check) { return std::to_string(stopped(check)) + "篇"; };
    Text line = "文章检查拦下的回复：截断" + count(ArticleCheck::kCutOff) + "（另续写" +
                std::to_string(continuations()) + "次），内容审核" + count(ArticleCheck::kReview);
    if (!settings.refusalPhrases.empty()) {
        line += "，拒绝写作" + count(ArticleCheck::kRefusal);
    }
    if (settings.minCharacters > 0) {
        line += "，不足" + std::to_string(settings.minCharacters) + "字" + count(ArticleCheck::kTooShort);
    }
    if (bannedWordsOn) {
        line += "，含违禁词" + count(ArticleCheck::kBannedWords) + "（替换" + std::to_string(replaced()) + "处）";
    }
    if (settings.similarity > 0) {
        line += "，重复" + count(ArticleCheck::kDuplicate);
    }
    return line;
}

}  // namespace qj

#include "cost/run_estimate.h"

#include <cmath>
#include <cstdio>

#include "cost/cost_ledger.h"

namespace qj {

void ArticleTokenHistory::Add(const Text& model, long long input, long long output) {
    Sum& sum = models_[model];
    sum.input += input;
    sum.output += output;
    ++sum.articles;
}

std::optional<ArticleTokens> ArticleTokenHistory::Average(const Text& model) const {
    const auto found = models_.find(model);
    if (found == models_.end() || found->second.articles == 0) {
        return std::nullopt;
    }
    const Sum& sum = found->second;
    const auto articles = static_cast<double>(sum.articles);
    return ArticleTokens{static_cast<double>(sum.input) / articles, static_cast<double>(sum.output) / articles,
                         sum.articles};
}

Text FormatTokenCount(double tokens) {
    char buffer[64];
    if (tokens >= 1e8) {
        std::snprintf(buffer, sizeof buffer, "%.1f亿", tokens / 1e8);
    } else if (tokens >= 1e5) {
        std::snprintf(buffer, sizeof buffer, "%.1f万", tokens / 1e4);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.0f", std::round(tokens));
    }
    return buffer;
}

Text RunEstimateLine(long long keywords, const Text& model, const std::optional<ArticleTokens>& history,
                     const ModelPrice* price, bool batch) {
    const ArticleTokens perArticle = history.value_or(kDefaultArticleTokens);
    const double input = perArticle.input * static_cast<double>(keywords);
    const double output = perArticle.output * static_cast<double>(keywords);
    Text line = "预计用量：关键词" + std::to_string(keywords) + "个，每篇约" +
                FormatTokenCount(perArticle.input + perArticle.output) + " Token（" +
                (history ? "模型 " + model + " 以往" + std::to_string(history->articles) + "篇的平均"
                         : Text("没有模型 " + model + " 以往的记录，按默认值估算")) +
                "），共约" + FormatTokenCount(input + output) + " Token";
    if (price == nullptr) {
        return line + "；价格表 " + Text(kPriceTableTail) + " 中没有这个模型的价格，无法估算费用";
    }
    Money money;
    money.Add(price->currency, (input * price->inputPerMillion + output * price->outputPerMillion) *
                                   (batch ? price->batchFactor : 1.0) / 1e6);
    return line + "，费用约 " + FormatMoney(money) + (batch ? "（批量接口价格）" : "");
}

}  // namespace qj

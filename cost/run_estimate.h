#pragma once

#include <map>
#include <optional>

#include "cost/price_table.h"
#include "text/types.h"

namespace qj {

// Tokens an article took on average.
struct ArticleTokens {
    double input = 0;
    double output = 0;
    long long articles = 0;  // how many articles the average is over; 0 for the default
};

// What an article takes when no earlier run tells: a prompt of about a hundred Chinese characters
// and an article of about 1,500.
inline constexpr ArticleTokens kDefaultArticleTokens{150, 1500, 0};

// The articles of earlier runs, by model (names compared as written).
class ArticleTokenHistory {
public:
    void Add(const Text& model, long long input, long long output);
    std::optional<ArticleTokens> Average(const Text& model) const;

private:
    struct Sum {
        long long input = 0;
        long long output = 0;
        long long articles = 0;
    };
    std::map<Text, Sum> models_;
};

// The log line that opens a run: the keywords times the tokens per article (earlier runs' average
// with this model, else the default) in tokens, and in money when the model has a price (at the
// batch factor with `batch`).
Text RunEstimateLine(long long keywords, const Text& model, const std::optional<ArticleTokens>& history,
                     const ModelPrice* price, bool batch);

// Large token counts as the log shows them: "8500", "12.5万", "3.2亿".
Text FormatTokenCount(double tokens);

}  // namespace qj

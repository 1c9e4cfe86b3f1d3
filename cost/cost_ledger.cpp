#include "cost/cost_ledger.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

TokenSum& TokenSum::operator+=(const TokenSum& other) {
    input += other.input;
    output += other.output;
    requests += other.requests;
    estimatedRequests += other.estimatedRequests;
    return *this;
}

void Money::Add(const Text& currency, double amount) {
    const auto at = std::lower_bound(amounts_.begin(), amounts_.end(), currency,
                                     [](const auto& entry, const Text& name) { return entry.first < name; });
    if (at != amounts_.end() && at->first == currency) {
        at->second += amount;
    } else {
        amounts_.emplace(at, currency, amount);
    }
}

Money& Money::operator+=(const Money& other) {
    for (const auto& [currency, amount] : other.amounts_) {
        Add(currency, amount);
    }
    return *this;
}

double Money::In(std::string_view currency) const {
    for (const auto& [name, amount] : amounts_) {
        if (name == currency) {
            return amount;
        }
    }
    return 0;
}

Text FormatAmount(double amount) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, amount < 100 ? "%.4f" : "%.2f", amount);
    return buffer;
}

Text FormatMoney(const Money& money) {
    Text shown;
    for (const auto& [currency, amount] : money.amounts()) {
        shown += (shown.empty() ? "" : " + ") + FormatAmount(amount) + " " + currency;
    }
    return shown.empty() ? Text("0") : shown;
}

CostFigures& CostFigures::operator+=(const CostFigures& other) {
    tokens += other.tokens;
    money += other.money;
    unpricedRequests += other.unpricedRequests;
    return *this;
}

Text DescribeCost(const CostFigures& figures) {
    Text text =
        "输入Token " + std::to_string(figures.tokens.input) + "，输出Token " + std::to_string(figures.tokens.output);
    if (figures.tokens.estimatedRequests > 0) {
        text += "（其中" + std::to_string(figures.tokens.estimatedRequests) + "个请求的用量是估算的）";
    }
    text += "，费用 " + FormatMoney(figures.money);
    if (figures.unpricedRequests > 0) {
        text += "（另有" + std::to_string(figures.unpricedRequests) + "个请求的模型不在价格表中，没有计入）";
    }
    return text;
}

CostLedger::CostLedger(PriceTable prices) : prices_(std::move(prices)) {}

CostFigures CostLedger::Add(const Text& keyword, int endpoint, const Text& model, const RequestUsage& usage,
                            bool batch) {
    CostFigures cost;
    cost.tokens.input = std::max(0LL, usage.input);
    cost.tokens.output = std::max(0LL, usage.output);
    cost.tokens.requests = 1;
    cost.tokens.estimatedRequests = usage.estimated ? 1 : 0;
    const ModelPrice* price = prices_.Find(model);
    if (price != nullptr) {
        const double factor = batch ? price->batchFactor : 1.0;
        cost.money.Add(price->currency, (static_cast<double>(cost.tokens.input) * price->inputPerMillion +
                                         static_cast<double>(cost.tokens.output) * price->outputPerMillion) *
                                            factor / 1e6);
    } else {
        cost.unpricedRequests = 1;
    }
    std::lock_guard lock(mutex_);
    keywords_[keyword] += cost;
    endpoints_[endpoint] += cost;
    total_ += cost;
    if (price == nullptr && std::find(unpriced_.begin(), unpriced_.end(), model) == unpriced_.end()) {
        unpriced_.push_back(model);
    }
    return cost;
}

CostFigures CostLedger::TakeKeyword(const Text& keyword) {
    std::lock_guard lock(mutex_);
    const auto found = keywords_.find(keyword);
    if (found == keywords_.end()) {
        return {};
    }
    CostFigures figures = std::move(found->second);
    keywords_.erase(found);
    return figures;
}

CostFigures CostLedger::Total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::vector<std::pair<int, CostFigures>> CostLedger::Endpoints() const {
    std::lock_guard lock(mutex_);
    return {endpoints_.begin(), endpoints_.end()};
}

TextList CostLedger::UnpricedModels() const {
    std::lock_guard lock(mutex_);
    return unpriced_;
}

TextList CostLedger::ClosingLines() const {
    std::lock_guard lock(mutex_);
    TextList lines;
    if (total_.tokens.requests == 0) {
        return lines;
    }
    if (endpoints_.size() > 1) {
        for (const auto& [endpoint, figures] : endpoints_) {
            lines.push_back("端点" + std::to_string(endpoint) + "用量：" + DescribeCost(figures));
        }
    }
    lines.push_back("本次任务用量：" + DescribeCost(total_));
    if (!unpriced_.empty()) {
        Text models;
        for (const Text& model : unpriced_) {
            models += (models.empty() ? "" : "、") + model;
        }
        lines.push_back("价格表 " + Text(kPriceTableTail) + " 中没有模型 " + models +
                        " 的价格，它们的请求没有计入费用");
    }
    return lines;
}

CostCapReading ReadCostCap(std::string_view typed) {
    CostCapReading reading;
    typed = TrimAsciiBlanks(typed);
    if (typed.empty()) {
        return reading;
    }
    double amount = 0;
    const auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), amount);
    if (error != std::errc() || !std::isfinite(amount) || amount <= 0) {
        reading.error = "费用上限必须是大于 0 的数字，后面可以写货币（例如 5 或 5 美元），现在是：" + Text(typed);
        return reading;
    }
    reading.cap = CostCap{amount, Text(TrimAsciiBlanks(std::string_view(end, typed.data() + typed.size() - end)))};
    return reading;
}

bool CapReached(const CostCap& cap, const Money& spent, std::string_view runCurrency) {
    return spent.In(cap.currency.empty() ? runCurrency : std::string_view(cap.currency)) >= cap.amount;
}

}  // namespace qj

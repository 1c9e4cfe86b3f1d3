#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cost/price_table.h"
#include "text/types.h"

namespace qj {

// What one request used: the tokens the service reported, or an estimate where it reported none.
struct RequestUsage {
    long long input = 0;
    long long output = 0;
    bool estimated = false;
};

// Tokens of several requests; the estimated ones are counted apart as well, so that a sum can say
// how much of it is a guess.
struct TokenSum {
    long long input = 0;
    long long output = 0;
    int requests = 0;
    int estimatedRequests = 0;

    long long Total() const { return input + output; }
    TokenSum& operator+=(const TokenSum& other);
};

// Amounts of money by currency, in the order of the currencies' names (so that a sum reads the
// same whichever request came first). Prices of different currencies are never converted into
// each other.
class Money {
public:
    void Add(const Text& currency, double amount);
    Money& operator+=(const Money& other);
    double In(std::string_view currency) const;  // 0 when none of it
    bool Empty() const { return amounts_.empty(); }
    const std::vector<std::pair<Text, double>>& amounts() const { return amounts_; }

private:
    std::vector<std::pair<Text, double>> amounts_;
};

// An amount as the log shows it: four decimals below 100, two from there ("0.0123", "123.45").
Text FormatAmount(double amount);
// "0.0123 美元", "0.0123 美元 + 1.2000 元"; "0" for no money at all.
Text FormatMoney(const Money& money);

// What some requests used and cost. Requests of a model the price table does not know cost
// nothing here and are counted as unpriced.
struct CostFigures {
    TokenSum tokens;
    Money money;
    int unpricedRequests = 0;

    CostFigures& operator+=(const CostFigures& other);
};

// "输入Token 1200，输出Token 3400（其中2个请求的用量是估算的），费用 0.0023 美元" and, for unpriced
// requests, what the price table lacks.
Text DescribeCost(const CostFigures& figures);

// The accounts of one run: every request's tokens and money, summed per keyword, per endpoint and
// for the run. Safe for several workers.
class CostLedger {
public:
    explicit CostLedger(PriceTable prices);

    // Accounts one request for a keyword on endpoint `endpoint` (1 for the main settings, as the
    // log numbers them) with `model`; `batch` when it went through the provider's batch interface
    // (its factor of the price applies). Returns what the request cost.
    CostFigures Add(const Text& keyword, int endpoint, const Text& model, const RequestUsage& usage, bool batch);

    // The sums of a keyword's requests so far, taken out of the ledger's keyword sums (the run
    // records them with the keyword's outcome).
    CostFigures TakeKeyword(const Text& keyword);

    CostFigures Total() const;
    // By endpoint number, for the endpoints that had requests.
    std::vector<std::pair<int, CostFigures>> Endpoints() const;
    // Models that had requests but no price, in the order they came.
    TextList UnpricedModels() const;

    // The closing lines of a run's log: one per endpoint when more than one was used, then the total.
    TextList ClosingLines() const;

    const PriceTable& prices() const { return prices_; }

private:
    const PriceTable prices_;
    mutable std::mutex mutex_;
    std::map<Text, CostFigures> keywords_;
    std::map<int, CostFigures> endpoints_;
    CostFigures total_;
    TextList unpriced_;
};

// A spending cap as the user typed it: a number, with or without a currency after it ("5",
// "5 美元", "20元"). Without a currency it counts in the currency of the run's model.
struct CostCap {
    double amount = 0;
    Text currency;
};

struct CostCapReading {
    std::optional<CostCap> cap;  // none for an empty box
    Text error;                  // why the text is no cap (for the run log); empty when it is one
};
CostCapReading ReadCostCap(std::string_view typed);

// Whether `spent` has reached the cap; a cap without a currency counts in `runCurrency`.
bool CapReached(const CostCap& cap, const Money& spent, std::string_view runCurrency);

}  // namespace qj

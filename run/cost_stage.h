#pragma once

#include <atomic>
#include <optional>

#include "cost/cost_ledger.h"
#include "run/run_inputs.h"
#include "services/generator.h"

namespace qj {

// The cost stage of a run: every keyword's tokens (as the service counted them, else estimated
// from the characters and marked so) turned into money by the price table, summed per keyword,
// endpoint and run; the estimate that opens the run, the cap that ends it, the closing lines.
// A run whose model the price table does not know (and that has no cap) logs no estimate and no
// closing lines of its own: the token counts are all it could tell. Safe for the run's workers.
class CostStage {
public:
    CostStage(const CostSettings& settings, const RequestSettings& request, const LogSink& log);

    // The line that opens a run of `keywords` keywords (at the batch interface's price with `batch`).
    void LogEstimate(long long keywords, bool batch) const;

    // Accounts one keyword's request; true when the cap has been reached with it (said once in the
    // log: the run takes no further keyword).
    bool Record(const Text& keyword, const GenerationOutcome& outcome, bool batch = false);
    // Accounts a request whose tokens are known (a line of a batch).
    bool RecordUsage(const Text& keyword, int endpoint, const RequestUsage& usage, bool batch);

    bool CapReached() const { return capReached_.load(); }
    // How many more keywords the cap leaves room for at the estimated tokens of an article (at the
    // batch price with `batch`): none when there is no cap or the model has no price.
    std::optional<long long> KeywordsWithinCap(bool batch) const;
    // The run's cost so far for the title ("0.0123 美元"); empty before any priced request.
    Text SpentText() const;
    // The closing lines of the run log.
    void LogClosingLines() const;

    const CostLedger& ledger() const { return ledger_; }
    // What the keyword's requests so far cost ("0.0123 美元"), taken out of the keyword sums; empty
    // when none of them was priced.
    Text TakeKeyword(const Text& keyword);

private:
    Text ModelOf(int endpoint) const;
    bool CheckCap();

    const RequestSettings& request_;
    LogSink log_;
    CostLedger ledger_;
    std::optional<CostCap> cap_;
    Text runCurrency_;
    bool priced_ = false;  // the main endpoint's model has a price
    std::atomic<bool> capReached_{false};
};

// The model a completion body template asks for ("model":"..."); empty when it names none.
Text CompletionModel(const CompletionProfile& profile);

}  // namespace qj

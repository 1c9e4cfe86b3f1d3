#include "run/cost_stage.h"

#include <algorithm>

#include "cost/run_estimate.h"
#include "cost/token_estimate.h"
#include "services/chat_completion.h"

namespace qj {

namespace {

const ChatEndpoint* EndpointOf(const RequestSettings& request, int endpoint) {
    const auto& endpoints = request.chat.endpoints;
    if (request.chosen != Interface::kThree || endpoints.empty()) {
        return nullptr;
    }
    const std::size_t index = endpoint >= 1 && static_cast<std::size_t>(endpoint) <= endpoints.size()
                                  ? static_cast<std::size_t>(endpoint) - 1
                                  : 0;
    return &endpoints[index];
}

}  // namespace

Text CompletionModel(const CompletionProfile& profile) {
    const Text& body = profile.bodyTemplate;
    std::size_t at = body.find("\"model\"");
    if (at == Text::npos) {
        return {};
    }
    at = body.find('"', body.find(':', at) + 1);
    const std::size_t end = at == Text::npos ? Text::npos : body.find('"', at + 1);
    return end == Text::npos ? Text() : body.substr(at + 1, end - at - 1);
}

CostStage::CostStage(const CostSettings& settings, const RequestSettings& request, const LogSink& log)
    : request_(request), log_(log), ledger_([&] {
          PriceTableRead read = LoadPriceTable(settings.priceTable);
          if (read.failure && log) {
              log("错误信息：价格表无法" + Text(read.created ? "读取" : "建立") + " " + Describe(*read.failure) +
                  "，本次任务只计Token");
          }
          for (const Text& problem : read.table.problems) {
              if (log) {
                  log(problem);
              }
          }
          return std::move(read.table);
      }()) {
    const CostCapReading cap = ReadCostCap(settings.cap);
    if (!cap.error.empty() && log_) {
        log_("费用上限无法使用：" + cap.error + "，本次任务不设上限");
    }
    cap_ = cap.cap;
    if (const ModelPrice* price = ledger_.prices().Find(ModelOf(1))) {
        runCurrency_ = price->currency;
        priced_ = true;
    }
    if (cap_ && log_) {
        log_("费用上限：" + FormatAmount(cap_->amount) + " " +
             (cap_->currency.empty() ? (runCurrency_.empty() ? Text("（模型没有价格，无法计费）") : runCurrency_)
                                     : cap_->currency));
    }
}

Text CostStage::ModelOf(int endpoint) const {
    if (const ChatEndpoint* chat = EndpointOf(request_, endpoint)) {
        return chat->config.model.empty() ? Text(kDefaultChatModel) : chat->config.model;
    }
    return CompletionModel(request_.completion);
}

void CostStage::LogEstimate(long long keywords, bool batch) const {
    if (keywords <= 0 || !log_ || (!priced_ && !cap_)) {
        return;
    }
    const Text model = ModelOf(1);
    log_(RunEstimateLine(keywords, model, std::nullopt, ledger_.prices().Find(model), batch));
}

bool CostStage::Record(const Text& keyword, const GenerationOutcome& outcome, bool batch) {
    RequestUsage usage;
    if (outcome.usage) {
        usage.input = outcome.usage->promptTokens;
        usage.output = outcome.usage->completionTokens;
    } else if (outcome.ok && !outcome.text.empty()) {
        // Not counted by the service: about what the prompt and the article hold.
        Text prompt = keyword;
        if (const ChatEndpoint* chat = EndpointOf(request_, outcome.endpointNumber)) {
            prompt += chat->config.promptTemplate + chat->config.systemPrompt;
        } else {
            prompt += request_.completion.samplePrompt;
        }
        usage.input = EstimateTokens(prompt);
        usage.output = EstimateTokens(outcome.text);
        usage.estimated = true;
    } else {
        return CapReached();
    }
    return RecordUsage(keyword, outcome.endpointNumber, usage, batch);
}

bool CostStage::RecordUsage(const Text& keyword, int endpoint, const RequestUsage& usage, bool batch) {
    ledger_.Add(keyword, endpoint, ModelOf(endpoint), usage, batch);
    return CheckCap();
}

bool CostStage::CheckCap() {
    if (!cap_ || !qj::CapReached(*cap_, ledger_.Total().money, runCurrency_)) {
        return CapReached();
    }
    if (!capReached_.exchange(true) && log_) {
        log_("已达到费用上限（" + FormatAmount(cap_->amount) + " " +
             (cap_->currency.empty() ? runCurrency_ : cap_->currency) + "，已花费 " +
             FormatMoney(ledger_.Total().money) + "），不再开始新的关键词，进行中的请求完成后任务结束");
    }
    return true;
}

std::optional<long long> CostStage::KeywordsWithinCap(bool batch) const {
    const ModelPrice* price = ledger_.prices().Find(ModelOf(1));
    if (!cap_ || price == nullptr || (!cap_->currency.empty() && cap_->currency != price->currency)) {
        return std::nullopt;
    }
    const double perKeyword = (kDefaultArticleTokens.input * price->inputPerMillion +
                               kDefaultArticleTokens.output * price->outputPerMillion) *
                              (batch ? price->batchFactor : 1.0) / 1e6;
    const double left = cap_->amount - ledger_.Total().money.In(price->currency);
    if (perKeyword <= 0) {
        return std::nullopt;
    }
    return left <= 0 ? 0 : std::max(1LL, static_cast<long long>(left / perKeyword));
}

Text CostStage::SpentText() const {
    const Money money = ledger_.Total().money;
    return money.Empty() ? Text() : FormatMoney(money);
}

Text CostStage::TakeKeyword(const Text& keyword) {
    const Money money = ledger_.TakeKeyword(keyword).money;
    return money.Empty() ? Text() : FormatMoney(money);
}

void CostStage::LogClosingLines() const {
    if (!log_ || (!priced_ && !cap_ && ledger_.Total().money.Empty())) {
        return;
    }
    for (const Text& line : ledger_.ClosingLines()) {
        log_(line);
    }
}

}  // namespace qj

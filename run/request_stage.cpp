#include "run/request_stage.h"

#include <algorithm>
#include <ctime>

namespace qj {

namespace {

Generator ChosenGenerator(const RequestSettings& settings, const LogSink& log) {
    if (settings.chosen == Interface::kThree) {
        return ChatEndpointsGenerator(settings.chat, log);
    }
    return CompletionGenerator(settings.completion);
}

GenerationOutcome Cancelled() {
    GenerationOutcome outcome;
    outcome.cancelled = true;
    return outcome;
}

}  // namespace

Generator CompletionGenerator(CompletionProfile profile) {
    return [profile = std::move(profile)](const Text& keyword, const Text& key, const std::atomic<bool>* cancel) {
        const Result<HttpResponse> reply = RequestCompletion(profile, keyword, key, cancel);
        return CompletionOutcome(profile, reply, cancel && cancel->load(), std::time(nullptr));
    };
}

RequestStage::RequestStage(const RequestSettings& settings, const LogSink& log)
    : key_(settings.key),
      interfaceName_(settings.chosen == Interface::kOne   ? "接口一"
                     : settings.chosen == Interface::kTwo ? "接口二"
                                                          : ""),
      retries_(settings.retries),
      log_(log),
      generate_(ChosenGenerator(settings, log)),
      pool_(PoolBehind(generate_)),
      pause_(settings.retries > 0) {
    if (pool_) {
        pool_->SetRules({.ceiling = settings.workers, .retries = settings.retries});
    }
}

GenerationOutcome RequestStage::Ask(const Text& keyword, const StopToken& stop, const FollowUp& followUp,
                                    const ChatMessages* messages) {
    const std::atomic<bool>& stopFlag = *stop.Flag();
    if (pool_) {
        return pool_->Request(keyword, key_, stopFlag, followUp, messages);
    }
    // A completion has a prompt alone: the hint goes behind the keyword.
    const Text prompt = followUp.hint.empty() ? keyword : keyword + "\r\n" + followUp.hint;
    GenerationOutcome outcome;
    for (int attempt = 1;; ++attempt) {
        if (!pause_.WaitUntilClear(stopFlag)) {
            return Cancelled();
        }
        outcome = generate_(prompt, key_, &stopFlag);
        outcome.requests = attempt;
        outcome.endpoint = interfaceName_;
        if (outcome.cancelled || outcome.unusableSettings) {
            return outcome;
        }
        std::chrono::milliseconds delay{0};
        if (outcome.rateLimited) {
            delay = pause_.RateLimited(outcome.retryAfterSeconds);
        } else {
            pause_.Answered();
        }
        const bool failed = !outcome.ok || outcome.text.empty();
        if (!failed || !outcome.transient || attempt > retries_) {
            if (outcome.rateLimited && log_) {
                log_("服务回答请求过多（HTTP 429），所有请求暂停" + retry::DelayText(delay));
            }
            return outcome;
        }
        delay = std::max(delay, retry::Delay(attempt, outcome.retryAfterSeconds, retry::Jitter()));
        const Text reason = outcome.status == 0 ? Text("没有收到回复") : "HTTP " + std::to_string(outcome.status);
        if (log_) {
            log_("关键词【" + keyword + "】请求失败（" + reason + "），" + retry::DelayText(delay) + "后第" +
                 std::to_string(attempt) + "次重试");
        }
        if (!SharedPause::Sleep(delay, stopFlag)) {
            return Cancelled();
        }
    }
}

void RequestStage::LogFigures() const {
    if (pool_) {
        pool_->LogFigures();
    }
}

}  // namespace qj

#include "run/publish_stage.h"

#include <ctime>

#include "services/rate_limits.h"
#include "services/retry_policy.h"

namespace qj {

publishing::RetryDelay PublishRetryDelay() {
    return [](int attempt, const Text& headers) {
        return retry::Delay(attempt, RetryAfterSeconds(headers, std::time(nullptr)), retry::Jitter());
    };
}

class PublishStage::Observer : public publishing::PublishObserver {
public:
    explicit Observer(const LogSink& log) : log_(log) {}
    void Log(const Text& line) override { log_(line); }

private:
    const LogSink& log_;
};

PublishOutcome PublishGenerated(const PublishStageSettings& settings, const LogSink& log, const StopToken& stop) {
    const publishing::PublishSettingsReading& reading = settings.reading;
    for (const Text& problem : reading.problems) {
        log(problem);
    }
    PublishOutcome outcome;
    if (!reading.error.empty()) {
        log("无法发布：" + reading.error);
        return outcome;
    }
    PublishStage::Observer observer(log);
    publishing::Publisher publisher(reading.settings, settings.files, observer, *stop.Flag(), PublishRetryDelay());
    if (std::optional<Error> error = publisher.Start()) {
        log("错误信息：" + Describe(*error) + "；没有发布");
        return outcome;
    }
    outcome.started = true;
    if (publisher.PublishFolder() == 0) {
        log("没有需要发布的文章：生成内容中的文章都已发布");
    }
    outcome.summary = publisher.Finish();
    return outcome;
}

PublishStage::PublishStage(const PublishStageSettings& settings, const LogSink& log, const StopToken& stop)
    : settings_(settings), log_(log), stop_(stop) {}

PublishStage::~PublishStage() {
    End();
}

void PublishStage::Begin() {
    const publishing::PublishSettingsReading& reading = settings_.reading;
    if (!reading.settings.afterEachArticle) {
        return;
    }
    for (const Text& problem : reading.problems) {
        log_(problem);
    }
    if (!reading.error.empty()) {
        log_("发布没有开启：" + reading.error);
        return;
    }
    observer_ = std::make_unique<Observer>(log_);
    publisher_ = std::make_unique<publishing::Publisher>(reading.settings, settings_.files, *observer_,
                                                         *stop_.Flag(), PublishRetryDelay());
    if (std::optional<Error> error = publisher_->Start()) {
        log_("错误信息：" + Describe(*error) + "；本次不发布");
        publisher_.reset();
    }
}

void PublishStage::Written(const Text& file, const Text& keyword) {
    if (publisher_) {
        publisher_->Publish(file, keyword);
    }
}

void PublishStage::End() {
    if (publisher_) {
        (void)publisher_->Finish();
        publisher_.reset();
    }
}

}  // namespace qj

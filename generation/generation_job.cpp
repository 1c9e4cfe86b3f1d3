#include "generation/generation_job.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "app/control_names.h"
#include "app/deployment.h"
#include "app/program_folder.h"
#include "generation/chat_reply.h"
#include "generation/failure_requeue.h"
#include "generation/interface_three.h"
#include "generation/output_files.h"
#include "generation/progress.h"
#include "generation/retry_policy.h"
#include "text/ascii.h"
#include "text/run_log.h"

namespace qj {

namespace {

std::atomic<bool> g_runExists{false};

constexpr int kMaxWorkers = 32;

// A whole number typed into an edit box, within [low, high]; `fallback` when the box is empty or
// holds something else, the nearest bound when the number lies outside.
int BoundedNumber(const WindowModel& window, const char* control, int low, int high, int fallback) {
    const Text text(TrimAsciiBlanks(window.GetText(control, kPropContent)));
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != Text::npos) {
        return fallback;
    }
    return std::clamp(std::atoi(text.c_str()), low, high);
}

Text TokenCounts(const TokenUsage& usage) {
    return "输入" + std::to_string(usage.promptTokens) + "，输出" + std::to_string(usage.completionTokens) + "，合计" +
           std::to_string(usage.totalTokens);
}

Text SecondsText(std::chrono::milliseconds delay) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", static_cast<double>(delay.count()) / 1000.0);
    Text text = buffer;
    if (text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text + "秒";
}

// One run: the workers share the queue, the counts, the pause after "too many requests" and the
// decision to take no more keywords.
class Run {
public:
    Run(WindowModel& window, KeywordQueue& queue, Generator generate, int retries)
        : window_(window), queue_(queue), generate_(std::move(generate)), retries_(retries) {}

    // One worker: takes keywords until the list ends, the run is stopped or it must end.
    void Work() {
        while (!StopRequested.load() && !ending_.load()) {
            const KeywordQueue::Taken taken = queue_.TakeNextKeyword();
            if (taken.kind != KeywordQueue::Taken::Kind::kKeyword) {
                if (taken.kind == KeywordQueue::Taken::Kind::kError) {
                    RunLog("错误信息：" + Describe(*taken.error));
                }
                ending_ = true;
                break;
            }
            ShowProgress();
            if (!Process(taken.keyword)) {
                ending_ = true;
            }
            ShowProgress();
        }
    }

    void Begin() {
        title_ = window_.GetText(kWindowItself, kPropCaption);
        window_.SetNumber(control::kProgressRun, kPropProgressValue, 0);
        ShowProgress();
    }

    JobSummary End() {
        window_.SetText(kWindowItself, kPropCaption, title_);
        std::lock_guard lock(mutex_);
        summary_.figures = progress_.Figures();
        summary_.figures.timeLeft.reset();
        if (summary_.keywordsWithTokens > 0) {
            RunLog("本次任务共消耗Token：" + TokenCounts(summary_.tokens) + "（" +
                   std::to_string(summary_.keywordsWithTokens) + "个关键词）");
        }
        return summary_;
    }

private:
    // Records a failed keyword; when even that fails, the keyword goes back into the list instead.
    void RecordFailure(const Text& keyword, const Text& detail) {
        RunLog("关键词【" + keyword + "】内容生成失败！");
        if (!detail.empty()) {
            RunLog("错误信息：" + detail);
        }
        if (std::optional<FileError> e = AppendFailedKeyword(queue_.paths().failureList, keyword)) {
            RunLog("错误信息：" + Describe(*e));
            queue_.Return(keyword);
            Count(&JobSummary::returned);
            return;
        }
        queue_.Finish(keyword);
        Count(&JobSummary::failed);
        progress_.Failed();
    }

    void Count(int JobSummary::*field) {
        std::lock_guard lock(mutex_);
        ++(summary_.*field);
    }

    // Asks the service, again after a transient failure while retries are left.
    GenerationOutcome Generate(const Text& keyword) {
        GenerationOutcome outcome;
        for (int attempt = 1;; ++attempt) {
            if (!pause_.WaitUntilClear(StopRequested)) {
                outcome = {};
                outcome.cancelled = true;
                return outcome;
            }
            const Text key = window_.GetText(control::kEditOpenAiKey, kPropContent);
            outcome = generate_(keyword, key, &StopRequested);
            if (outcome.cancelled || outcome.unusableSettings) {
                return outcome;
            }
            std::chrono::milliseconds delay{0};
            if (outcome.status == 429) {
                delay = pause_.RateLimited(outcome.retryAfterSeconds);
            } else {
                pause_.Answered();
            }
            const bool failed = !outcome.ok || outcome.text.empty();
            if (!failed || !outcome.transient || attempt > retries_) {
                return outcome;
            }
            delay = std::max(delay, retry::Delay(attempt, outcome.retryAfterSeconds, retry::Jitter()));
            const Text reason = outcome.status == 0 ? Text("没有收到回复") : "HTTP " + std::to_string(outcome.status);
            RunLog("关键词【" + keyword + "】请求失败（" + reason + "），" + SecondsText(delay) + "后第" +
                   std::to_string(attempt) + "次重试");
            if (!SharedPause::Sleep(delay, StopRequested)) {
                outcome = {};
                outcome.cancelled = true;
                return outcome;
            }
        }
    }

    // The whole work for one keyword. Returns false when the run must end (stopped, or settings
    // that cannot work).
    bool Process(const Text& keyword) {
        if (window_.GetNumber(control::kCheckSkipExisting, kPropChecked) &&
            OutputExists(queue_.paths().outputFolder, keyword)) {
            RunLog("关键词【" + keyword + "】已有生成内容，跳过");
            queue_.Finish(keyword);
            Count(&JobSummary::skipped);
            progress_.Skipped();
            return true;
        }
        RunLog("开始生成关键词【" + keyword + "】相关内容");
        RunLog("Chat GPT 思考中，请耐心等待.....");
        const GenerationOutcome outcome = Generate(keyword);
        const bool goOn = Settle(keyword, outcome);
        if (outcome.usage) {
            RunLog("关键词【" + keyword + "】消耗Token：" + TokenCounts(*outcome.usage));
            std::lock_guard lock(mutex_);
            summary_.tokens += *outcome.usage;
            ++summary_.keywordsWithTokens;
        }
        return goOn;
    }

    bool Settle(const Text& keyword, const GenerationOutcome& outcome) {
        if (outcome.unusableSettings) {
            RunLog("错误信息：" + outcome.errorDetail);
        }
        if (outcome.cancelled || outcome.unusableSettings) {
            queue_.Return(keyword);
            Count(&JobSummary::returned);
            RunLog("关键词【" + keyword + "】已放回待采集关键词列表");
            return false;
        }
        if (!outcome.ok) {
            RecordFailure(keyword, outcome.errorDetail);
            return true;
        }
        if (window_.GetNumber(control::kCheckPreview, kPropChecked)) {
            RunLog(outcome.text);
        }
        if (outcome.text.empty()) {
            // A success without text would otherwise vanish without a trace.
            RecordFailure(keyword, outcome.errorDetail);
            return true;
        }
        Text text = outcome.text;
        if (window_.GetNumber(control::kCheckSaveAsHtml, kPropChecked)) {
            text = ToParagraphHtml(text);
        }
        if (std::optional<FileError> e = SaveGeneratedText(queue_.paths().outputFolder, keyword, text)) {
            RecordFailure(keyword, Describe(*e));
            return true;
        }
        queue_.Finish(keyword);
        Count(&JobSummary::succeeded);
        progress_.Succeeded();
        RunLog("关键词【" + keyword + "】内容生成成功，已保存到本地目录中！");
        return true;
    }

    // The figures in the window's title and the progress bar.
    void ShowProgress() {
        std::lock_guard lock(showMutex_);
        progress_.SetRemaining(queue_.RemainingCount());
        const ProgressFigures f = progress_.Figures();
        const long long settled = f.succeeded + f.failed + f.skipped;
        window_.SetNumber(control::kProgressRun, kPropProgressMaximum, std::max<long long>(1, settled + f.remaining));
        window_.SetNumber(control::kProgressRun, kPropProgressValue, settled);
        window_.SetText(kWindowItself, kPropCaption, title_ + " - " + ProgressText(f));
    }

    WindowModel& window_;
    KeywordQueue& queue_;
    const Generator generate_;
    const int retries_;
    std::atomic<bool> ending_{false};
    SharedPause pause_;
    ProgressMeter progress_;
    Text title_;
    std::mutex mutex_;
    std::mutex showMutex_;
    JobSummary summary_;
};

}  // namespace

Generator CompletionGenerator(CompletionProfile profile) {
    return [profile = std::move(profile)](const Text& keyword, const Text& key, const std::atomic<bool>* cancel) {
        return CompletionOutcome(profile, RequestCompletion(profile, keyword, key, cancel), std::time(nullptr));
    };
}

Generator ChosenGenerator(WindowModel& window) {
    const Deployment& d = CurrentDeployment();
    if (window.GetNumber(control::kRadioInterfaceThree, kPropChecked)) {
        return InterfaceThreeGenerator(ReadInterfaceThreeSettings(window), DefaultChatBaseUrl());
    }
    if (window.GetNumber(control::kRadioInterfaceOne, kPropChecked)) {
        return CompletionGenerator(InterfaceOneProfile(d.openAi, d.relayOne));
    }
    return CompletionGenerator(InterfaceTwoProfile(d.openAi, d.relayTwo));
}

JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue,
                            const std::function<Generator(WindowModel&)>& chooseGenerator,
                            const std::function<void()>& onRunEnding) {
    StopRequested.store(false);
    window.SetNumber(control::kButtonStart, kPropDisabled, 1);
    const Generator generate = chooseGenerator(window);
    const int workers = BoundedNumber(window, control::kEditConcurrency, 1, kMaxWorkers, 1);
    const int retries = BoundedNumber(window, control::kEditRetryCount, 0, retry::kMaxRetries, 0);

    const bool listLocked = queue.TryLockRun();
    if (!listLocked) {
        RunLog("错误信息：另一个青笺程序正在处理关键词列表 " + queue.paths().keywordList);
    } else {
        std::optional<FileError> recoverError = FinishInterruptedRequeue(queue.paths(), RequeueIntentPath(queue));
        if (!recoverError) {
            queue.Recover(&recoverError);
        }
        if (recoverError) {
            RunLog("错误信息：" + Describe(*recoverError));
        }
    }
    Run run(window, queue, generate, retries);
    run.Begin();
    if (listLocked) {
        std::vector<std::thread> helpers;
        for (int i = 1; i < workers; ++i) {
            helpers.emplace_back([&run] { run.Work(); });
        }
        run.Work();
        for (std::thread& t : helpers) {
            t.join();
        }
    }
    const JobSummary summary = run.End();
    queue.UnlockRun();
    if (onRunEnding) {
        onRunEnding();
    }
    window.SetNumber(control::kButtonStart, kPropDisabled, 0);
    RunLog("任务完成！");
    return summary;
}

JobSummary GenerationJob(const std::function<void()>& onRunEnding) {
    WindowModel* window = MainWindow();
    if (!window) {
        if (onRunEnding) {
            onRunEnding();
        }
        return {};
    }
    KeywordQueue queue(JobPathsIn(ProgramFolder()));
    return RunGenerationJob(*window, queue, ChosenGenerator, onRunEnding);
}

bool StartGenerationJob() {
    if (g_runExists.exchange(true)) {
        return false;
    }
    if (WindowModel* window = MainWindow()) {
        window->SetNumber(control::kButtonStart, kPropDisabled, 1);
    }
    // The guard is released before 开始 is enabled again, so a click on the enabled button always
    // starts a run.
    std::thread([] { GenerationJob([] { g_runExists.store(false); }); }).detach();
    return true;
}

bool GenerationJobRunning() {
    return g_runExists.load();
}

int RecoverInterruptedKeywords(const Text& programFolder) {
    KeywordQueue queue(JobPathsIn(programFolder));
    if (!queue.TryLockRun()) {
        return 0;
    }
    FinishInterruptedRequeue(queue.paths(), RequeueIntentPath(queue));
    return queue.Recover();
}

}  // namespace qj

#include "run/job.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "services/chat_reply.h"
#include "services/endpoint_pool.h"
#include "run/failure_requeue.h"
#include "services/chat_completion.h"
#include "services/chat_endpoints.h"
#include "run/output_files.h"
#include "run/progress.h"
#include "services/retry_policy.h"
#include "platform/open_file.h"
#include "platform/program_folder.h"
#include "text/ascii.h"
#include "window/control_names.h"
#include "window/run_log.h"

namespace qj {

namespace {

constexpr int kMaxWorkers = 32;
constexpr std::chrono::milliseconds kProgressInterval{200};

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

// One run: the workers share the queue, the counts, the pause after "too many requests" and the
// decision to take no more keywords.
class Run {
public:
    Run(WindowModel& window, KeywordQueue& queue, Generator generate, int retries, std::atomic<bool>& stop,
        EndpointPool* pool)
        : window_(window),
          queue_(queue),
          generate_(std::move(generate)),
          retries_(retries),
          stop_(stop),
          pause_(retries > 0),
          pool_(pool),
          output_(queue.paths().outputFolder) {}

    // What must hold before the first keyword is taken: the list is this run's alone, and what an
    // earlier run left unsettled is back in it. False when the run cannot start.
    bool Prepare() {
        if (!queue_.TryLockRun()) {
            RunLog("错误信息：另一个青笺程序正在处理关键词列表 " + queue_.paths().keywordList);
            return false;
        }
        Result<void> settled = FinishInterruptedRequeue(queue_.paths(), RequeueIntentPath(queue_));
        if (settled) {
            if (Result<int> recovered = queue_.Recover(); !recovered) {
                settled = recovered.error();
            }
        }
        if (!settled) {
            // Taking keywords now would bury the unsettled ones of the journal under new records.
            RunLog("错误信息：" + Describe(settled.error()));
            return false;
        }
        // Files a killed run was writing are no articles; nobody else writes into the folder now.
        RemovePartialFiles(queue_.paths().outputFolder);
        if (!PathExists(NativePath(queue_.paths().keywordList)).value_or(false)) {
            RunLog("没有找到关键词列表 " + queue_.paths().keywordList + "：请建立这个文本文件，每行写一个关键词");
        } else if (const ListEncoding encoding = queue_.Format().encoding; encoding != ListEncoding::kGbk) {
            RunLog(Text("关键词列表按") + EncodingName(encoding) + "编码读取");
        }
        return true;
    }

    // One worker: takes keywords until the list ends, the run is stopped or it must end.
    void Work() {
        while (!stop_.load() && !ending_.load()) {
            const Result<KeywordQueue::Taken> next = queue_.TakeNextKeyword();
            if (!next) {
                RunLog("错误信息：" + Describe(next.error()));
                EndEarly();
                ending_ = true;
                break;
            }
            const KeywordQueue::Taken& taken = *next;
            if (taken.kind != KeywordQueue::Taken::Kind::kKeyword) {
                if (taken.keywordsBehind > 0) {
                    Halted(taken);
                }
                ending_ = true;
                break;
            }
            if (taken.lossy) {
                RunLog("关键词【" + taken.keyword + "】中有GBK编码没有的字符，已换成“?”");
            }
            ProgressChanged();
            Process(taken);
            ProgressChanged();
        }
    }

    // The list file shows exactly what remains once a run is over. When it cannot be written, the
    // journal still holds what the file lacks, and the next run (or start of the program) applies it.
    void WriteListBack() {
        if (Result<void> e = queue_.Flush(); !e) {
            RunLog("错误信息：" + Describe(e.error()));
            RunLog("关键词列表没能写回，未完成的关键词将在下次运行时放回待采集关键词列表");
            endedEarly_ = true;
        }
    }

    void Begin() {
        title_ = window_.GetText(kWindowItself, kPropCaption);
        window_.SetNumber(control::kProgressRun, kPropProgressValue, 0);
        ShowProgress();
        shower_ = std::thread([this] { ShowProgressWhileRunning(); });
    }

    JobSummary End(bool started) {
        {
            std::lock_guard lock(showMutex_);
            showerStopping_ = true;
        }
        showWake_.notify_one();
        shower_.join();
        ShowProgress();  // the final figures stay in the progress bar
        window_.SetText(kWindowItself, kPropCaption, title_);
        std::lock_guard lock(mutex_);
        summary_.figures = progress_.Figures();
        summary_.figures.timeLeft.reset();
        if (pool_ && started) {
            pool_->LogFigures();
        }
        if (summary_.keywordsWithTokens > 0) {
            RunLog("本次任务共消耗Token：" + TokenCounts(summary_.tokens) + "（" +
                   std::to_string(summary_.keywordsWithTokens) + "个关键词）");
        }
        summary_.end = !started       ? RunEnd::kNotStarted
                       : endedEarly_  ? RunEnd::kEndedEarly
                       : stop_.load() ? RunEnd::kStopped
                                      : RunEnd::kListDone;
        return summary_;
    }

private:
    // The run ends with keywords left in the list.
    void EndEarly() {
        endedEarly_ = true;
        ending_ = true;
    }

    // A line that ends the run stands before keywords: the user should know they were not reached.
    void Halted(const KeywordQueue::Taken& taken) {
        const Text left = std::to_string(taken.keywordsBehind);
        if (taken.halt == KeywordQueue::Taken::Halt::kOtherEncoding) {
            RunLog(Text("关键词列表从这里起是") + EncodingName(taken.other) + "编码，本次任务到此结束，后面还有" +
                   left + "个关键词，下次开始时按这种编码接着读取");
        } else {
            RunLog("关键词列表中遇到空行，本次任务到此结束，空行后还有" + left +
                   "个关键词，删去空行后再开始即可接着生成");
        }
        EndEarly();
    }

    // Back to the front of the list. When even that fails, the keyword is still in the journal,
    // whose unsettled keywords the next run (or start of the program) puts back first.
    void PutBack(const KeywordQueue::Taken& taken) {
        const Text& keyword = taken.keyword;
        if (Result<void> e = queue_.Return(keyword, taken.line); !e) {
            RunLog("错误信息：" + Describe(e.error()));
            RunLog("关键词【" + keyword + "】将在下次运行时放回待采集关键词列表");
        } else {
            RunLog("关键词【" + keyword + "】已放回待采集关键词列表");
        }
        Count(&JobSummary::returned);
    }

    // An outcome that could not be recorded: asking again would only buy the same answer again and
    // fail the same way, so the keyword goes back and the run takes no further one.
    void Unrecorded(const KeywordQueue::Taken& taken, const Error& error) {
        RunLog("错误信息：" + Describe(error));
        PutBack(taken);
        EndEarly();
    }

    // The outcome is recorded: the keyword leaves the journal. When the journal cannot say so, the
    // keyword stays in it (the next run puts it back: done twice, never lost) and the run ends, as
    // every further keyword would need the journal too.
    void Settled(const KeywordQueue::Taken& taken) {
        if (Result<void> e = queue_.Finish(taken.keyword, taken.line); !e) {
            RunLog("错误信息：" + Describe(e.error()));
            RunLog("关键词【" + taken.keyword + "】将在下次运行时放回待采集关键词列表");
            EndEarly();
        }
    }

    void RecordFailure(const KeywordQueue::Taken& taken, const Text& detail) {
        RunLog("关键词【" + taken.keyword + "】内容生成失败！");
        if (!detail.empty()) {
            RunLog("错误信息：" + detail);
        }
        if (Result<void> e = AppendFailedKeyword(queue_.paths().failureList, taken.keyword); !e) {
            Unrecorded(taken, e.error());
            return;
        }
        Count(&JobSummary::failed);
        progress_.Failed();
        Settled(taken);
    }

    void Count(int JobSummary::*field) {
        std::lock_guard lock(mutex_);
        ++(summary_.*field);
    }

    // Asks the service, again after a transient failure while retries are left. A pool of endpoints
    // does its tries, pauses and failover itself.
    GenerationOutcome Generate(const Text& keyword) {
        if (pool_) {
            return pool_->Request(keyword, window_.GetText(control::kEditOpenAiKey, kPropContent), stop_);
        }
        GenerationOutcome outcome;
        for (int attempt = 1;; ++attempt) {
            if (!pause_.WaitUntilClear(stop_)) {
                outcome = {};
                outcome.cancelled = true;
                return outcome;
            }
            const Text key = window_.GetText(control::kEditOpenAiKey, kPropContent);
            outcome = generate_(keyword, key, &stop_);
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
                if (outcome.rateLimited) {
                    RunLog("服务回答请求过多（HTTP 429），所有请求暂停" + retry::DelayText(delay));
                }
                return outcome;
            }
            delay = std::max(delay, retry::Delay(attempt, outcome.retryAfterSeconds, retry::Jitter()));
            const Text reason = outcome.status == 0 ? Text("没有收到回复") : "HTTP " + std::to_string(outcome.status);
            RunLog("关键词【" + keyword + "】请求失败（" + reason + "），" + retry::DelayText(delay) + "后第" +
                   std::to_string(attempt) + "次重试");
            if (!SharedPause::Sleep(delay, stop_)) {
                outcome = {};
                outcome.cancelled = true;
                return outcome;
            }
        }
    }

    // The whole work for one keyword.
    void Process(const KeywordQueue::Taken& taken) {
        const Text& keyword = taken.keyword;
        if (window_.GetNumber(control::kCheckSkipExisting, kPropChecked) && output_.Exists(keyword, taken.original)) {
            RunLog("关键词【" + keyword + "】已有生成内容，跳过");
            Count(&JobSummary::skipped);
            progress_.Skipped();
            Settled(taken);
            return;
        }
        RunLog("开始生成关键词【" + keyword + "】相关内容");
        RunLog("Chat GPT 思考中，请耐心等待.....");
        const GenerationOutcome outcome = Generate(keyword);
        Settle(taken, outcome);
        if (outcome.usage) {
            RunLog("关键词【" + keyword + "】消耗Token：" + TokenCounts(*outcome.usage));
            std::lock_guard lock(mutex_);
            summary_.tokens += *outcome.usage;
            ++summary_.keywordsWithTokens;
        }
    }

    void Settle(const KeywordQueue::Taken& taken, const GenerationOutcome& outcome) {
        const Text& keyword = taken.keyword;
        if (outcome.unusableSettings && !outcome.errorDetail.empty()) {
            RunLog("错误信息：" + outcome.errorDetail);
        }
        if (outcome.cancelled || outcome.unusableSettings) {
            PutBack(taken);
            if (outcome.unusableSettings) {
                EndEarly();
            }
            ending_ = true;
            return;
        }
        if (!outcome.ok) {
            RecordFailure(taken, outcome.errorDetail);
            return;
        }
        if (window_.GetNumber(control::kCheckPreview, kPropChecked)) {
            RunLog(outcome.text);
        }
        if (outcome.text.empty()) {
            // A success without text would otherwise vanish without a trace.
            RecordFailure(taken, outcome.errorDetail);
            return;
        }
        std::optional<Text> html;
        if (window_.GetNumber(control::kCheckSaveAsHtml, kPropChecked)) {
            html = ToParagraphHtml(outcome.text);
        }
        if (Result<void> e = output_.Save(keyword, html ? *html : outcome.text, taken.original); !e) {
            Unrecorded(taken, e.error());
            return;
        }
        Count(&JobSummary::succeeded);
        progress_.Succeeded();
        RunLog("关键词【" + keyword + "】内容生成成功，已保存到本地目录中！");
        Settled(taken);
    }

    // The figures in the window's title and the progress bar. Each showing asks the queue and
    // the window (in the desktop window a call over to its thread each), so with keywords that
    // take milliseconds the figures are shown at most every kProgressInterval, and soon after
    // a change however long the next keyword takes.
    void ShowProgress() {
        progress_.SetRemaining(queue_.RemainingCount());
        const ProgressFigures f = progress_.Figures();
        const long long settled = f.succeeded + f.failed + f.skipped;
        window_.SetNumber(control::kProgressRun, kPropProgressMaximum, std::max<long long>(1, settled + f.remaining));
        window_.SetNumber(control::kProgressRun, kPropProgressValue, settled);
        window_.SetText(kWindowItself, kPropCaption, title_ + " - " + ProgressText(f));
    }

    void ProgressChanged() {
        std::lock_guard lock(showMutex_);
        if (!showPending_) {
            showPending_ = true;
            showWake_.notify_one();
        }
    }

    void ShowProgressWhileRunning() {
        std::unique_lock lock(showMutex_);
        auto lastShown = std::chrono::steady_clock::now();
        while (!showerStopping_) {
            if (!showPending_) {
                showWake_.wait(lock);
                continue;
            }
            const auto due = lastShown + kProgressInterval;
            if (std::chrono::steady_clock::now() < due) {
                showWake_.wait_until(lock, due);
                continue;
            }
            showPending_ = false;
            lock.unlock();
            ShowProgress();
            lastShown = std::chrono::steady_clock::now();
            lock.lock();
        }
    }

    WindowModel& window_;
    KeywordQueue& queue_;
    const Generator generate_;
    const int retries_;
    std::atomic<bool>& stop_;
    std::atomic<bool> ending_{false};
    std::atomic<bool> endedEarly_{false};
    SharedPause pause_;
    EndpointPool* const pool_;
    OutputFolder output_;
    ProgressMeter progress_;
    Text title_;
    std::mutex mutex_;
    JobSummary summary_;
    std::mutex showMutex_;
    std::condition_variable showWake_;
    bool showPending_ = false;
    bool showerStopping_ = false;
    std::thread shower_;
};

}  // namespace

Generator CompletionGenerator(CompletionProfile profile) {
    return [profile = std::move(profile)](const Text& keyword, const Text& key, const std::atomic<bool>* cancel) {
        const Result<HttpResponse> reply = RequestCompletion(profile, keyword, key, cancel);
        return CompletionOutcome(profile, reply, cancel && cancel->load(), std::time(nullptr));
    };
}

Generator ChosenGenerator(WindowModel& window, const Deployment& d) {
    if (window.GetNumber(control::kRadioInterfaceThree, kPropChecked)) {
        return InterfaceThreeEndpointsGenerator(ReadInterfaceThreeSettings(window), DefaultChatBaseUrl(d));
    }
    if (window.GetNumber(control::kRadioInterfaceOne, kPropChecked)) {
        return CompletionGenerator(InterfaceOneProfile(d.openAi, d.relayOne));
    }
    return CompletionGenerator(InterfaceTwoProfile(d.openAi, d.relayTwo));
}

JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue, const GeneratorChoice& choose,
                            const Deployment& deployment, std::atomic<bool>& stop,
                            const std::function<void()>& onRunEnding, const std::function<bool()>& interrupted) {
    stop.store(false);
    window.SetNumber(control::kButtonStart, kPropDisabled, 1);
    const Generator generate = choose(window, deployment);
    const int workers = BoundedNumber(window, control::kEditConcurrency, 1, kMaxWorkers, 1);
    const int retries = BoundedNumber(window, control::kEditRetryCount, 0, retry::kMaxRetries, 0);

    EndpointPool* pool = PoolBehind(generate);
    if (pool) {
        pool->SetRules({.ceiling = workers, .retries = retries});
    }
    Run run(window, queue, generate, retries, stop, pool);
    run.Begin();
    const bool started = run.Prepare();
    if (started) {
        std::vector<std::thread> helpers;
        for (int i = 1; i < workers; ++i) {
            helpers.emplace_back([&run] { run.Work(); });
        }
        run.Work();
        for (std::thread& t : helpers) {
            t.join();
        }
        run.WriteListBack();
    }
    const JobSummary summary = run.End(started);
    queue.UnlockRun();
    if (onRunEnding) {
        onRunEnding();
    }
    window.SetNumber(control::kButtonStart, kPropDisabled, 0);
    RunLog(summary.end == RunEnd::kStopped && interrupted && interrupted() ? "任务已停止" : "任务完成！");
    return summary;
}

int RecoverInterruptedKeywords(const Text& programFolder) {
    KeywordQueue queue(JobPathsIn(programFolder));
    // Without a journal that holds something or a recorded move there is nothing to do, and opening
    // the window creates no folder and no lock file.
    const bool journalHolds = RegularFileSize(queue.paths().journal).value_or(0) > 0;
    if (!journalHolds && !PathExists(NativePath(RequeueIntentPath(queue))).value_or(false)) {
        return 0;
    }
    if (!queue.TryLockRun()) {
        return 0;
    }
    // Without a window to tell: whatever fails here, the next run meets again and logs.
    if (!FinishInterruptedRequeue(queue.paths(), RequeueIntentPath(queue))) {
        return 0;
    }
    return queue.Recover().value_or(0);
}

}  // namespace qj

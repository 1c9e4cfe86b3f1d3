#include "run/job.h"

#include <algorithm>
#include <ctime>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "checks/run_report.h"
#include "platform/file_system.h"
#include "platform/open_file.h"
#include "platform/program_folder.h"
#include "batch/batch_submissions.h"
#include "run/check_stage.h"
#include "run/cost_stage.h"
#include "run/failure_requeue.h"
#include "run/log_line.h"
#include "run/output_files.h"
#include "run/publish_stage.h"
#include "run/request_stage.h"
#include "run/run_log_file.h"
#include "run/template_stage.h"
#include "services/chat_completion.h"

namespace qj {

namespace {

constexpr std::chrono::milliseconds kProgressInterval{200};

Text TokenCounts(const TokenUsage& usage) {
    return "输入" + std::to_string(usage.promptTokens) + "，输出" + std::to_string(usage.completionTokens) + "，合计" +
           std::to_string(usage.totalTokens);
}

// The run's log: each message stamped once, written into the run's log file and told to the
// observer. A file that cannot be written is said once; the observer still gets every line.
class RunReporter {
public:
    RunReporter(RunObserver& observer, const Text& folder) : observer_(observer), file_(folder, RunLogNow()) {}

    void Log(const Text& message) {
        const Text line = RunLogLineNow(message);
        const Result<void> kept = file_.Append(line);
        observer_.Logged(line);
        if (!kept) {
            observer_.Logged(RunLogLineNow("错误信息：运行日志无法写入文件 " + Describe(kept.error())));
        }
    }

    LogSink Sink() {
        return [this](const Text& message) { Log(message); };
    }

private:
    RunObserver& observer_;
    RunLogFile file_;
};

// The figures of the run, told to the observer as they change: with keywords that take
// milliseconds at most every kProgressInterval, and soon after a change however long the next
// keyword takes.
class ProgressTeller {
public:
    ProgressTeller(RunObserver& observer, KeywordQueue& queue, ProgressMeter& meter, const CostStage& cost)
        : observer_(observer), queue_(queue), meter_(meter), cost_(cost) {}

    void Begin() {
        Tell(false);
        thread_ = std::thread([this] { TellWhileRunning(); });
    }

    void Changed() {
        std::lock_guard lock(mutex_);
        if (!pending_) {
            pending_ = true;
            wake_.notify_one();
        }
    }

    // Lines of the list that are no keywords (the line naming the columns) and do not count.
    void SetLinesThatAreNoKeywords(int lines) { noKeywords_ = lines; }

    // The final figures: the run is over.
    void End() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
        Tell(true);
    }

private:
    void Tell(bool over) {
        meter_.SetRemaining(std::max(0, queue_.RemainingCount() - noKeywords_.load()));
        ProgressFigures figures = meter_.Figures();
        figures.cost = cost_.SpentText();
        observer_.Progress(figures, over);
    }

    void TellWhileRunning() {
        std::unique_lock lock(mutex_);
        auto lastTold = std::chrono::steady_clock::now();
        while (!stopping_) {
            if (!pending_) {
                wake_.wait(lock);
                continue;
            }
            const auto due = lastTold + kProgressInterval;
            if (std::chrono::steady_clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            pending_ = false;
            lock.unlock();
            Tell(false);
            lastTold = std::chrono::steady_clock::now();
            lock.lock();
        }
    }

    RunObserver& observer_;
    KeywordQueue& queue_;
    ProgressMeter& meter_;
    const CostStage& cost_;
    std::atomic<int> noKeywords_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// One run: the workers share the queue, the stages, the counts and the decision to take no more
// keywords.
class Run {
public:
    Run(const RunInputs& inputs, KeywordQueue& queue, RunReporter& log, RunObserver& observer, const StopToken& stop)
        : inputs_(inputs),
          queue_(queue),
          log_(log),
          stop_(stop),
          request_(inputs.request, log.Sink()),
          cost_(inputs.cost, inputs.request, log.Sink()),
          templates_(inputs, ProgramFolderOf(queue.paths()), log.Sink()),
          check_(inputs.check, inputs.request.retries, log.Sink()),
          output_(queue.paths().outputFolder),
          progress_(observer, queue, meter_, cost_),
          publish_(inputs.publish, log.Sink(), stop) {}

    // What must hold before the first keyword is taken: the list is this run's alone, and what an
    // earlier run left unsettled is back in it. False when the run cannot start.
    bool Prepare() {
        if (!queue_.TryLockRun()) {
            Log("错误信息：另一个青笺程序正在处理关键词列表 " + queue_.paths().keywordList);
            return false;
        }
        Result<void> settled = FinishInterruptedRequeue(queue_.paths(), RequeueIntentPath(queue_));
        // The record of batch submissions is put right against what the journal gives back.
        journalInFlight_ = UnsettledKeywords(ReadFileOrEmpty(queue_.paths().journal).value_or(Bytes()));
        if (settled) {
            if (Result<int> recovered = queue_.Recover(); !recovered) {
                settled = recovered.error();
            }
        }
        if (!settled) {
            // Taking keywords now would bury the unsettled ones of the journal under new records.
            Log("错误信息：" + Describe(settled.error()));
            return false;
        }
        // Files a killed run was writing are no articles; nobody else writes into the folder now.
        RemovePartialFiles(queue_.paths().outputFolder);
        if (!check_.Prepare()) {
            return false;
        }
        if (const Text& folder = inputs_.record.reportFolder; !folder.empty()) {
            // The run goes on without its report: the run log still tells every keyword's outcome.
            if (Result<void> e = report_.Open(folder, std::time(nullptr)); !e) {
                Log("错误信息：运行报告无法写入 " + Describe(e.error()));
            }
        }
        publish_.Begin();
        if (!PathExists(NativePath(queue_.paths().keywordList)).value_or(false)) {
            Log("没有找到关键词列表 " + queue_.paths().keywordList + "：请建立这个文本文件，每行写一个关键词");
        } else if (const ListEncoding encoding = queue_.Format().encoding; encoding != ListEncoding::kGbk) {
            Log(Text("关键词列表按") + EncodingName(encoding) + "编码读取");
        }
        if (!PrepareTemplates()) {
            return false;
        }
        cost_.LogEstimate(queue_.RemainingCount(), inputs_.batch.on);
        return true;
    }

    // One worker: takes keywords until the list ends, the run is stopped or it must end.
    void Work() {
        while (!stop_.StopRequested() && !ending_.load() && !cost_.CapReached()) {
            const std::optional<KeywordQueue::Taken> next = TakeKeyword();
            if (!next) {
                break;
            }
            const KeywordQueue::Taken& taken = *next;
            if (taken.lossy) {
                Log("关键词【" + Shown(taken.keyword) + "】中有GBK编码没有的字符，已换成“?”");
            }
            progress_.Changed();
            Process(taken);
            progress_.Changed();
        }
    }

    // The list file shows exactly what remains once a run is over. When it cannot be written, the
    // journal still holds what the file lacks, and the next run (or start of the program) applies it.
    void WriteListBack() {
        GiveBackFirstLines();
        if (Result<void> e = queue_.Flush(); !e) {
            Log("错误信息：" + Describe(e.error()));
            Log("关键词列表没能写回，未完成的关键词将在下次运行时放回待采集关键词列表");
            endedEarly_ = true;
        }
    }

    // The line taken before the workers that none of them got, and the column names, go back to
    // the front.
    void GiveBackFirstLines() {
        std::optional<Result<KeywordQueue::Taken>> first = std::move(firstTaken_);
        firstTaken_.reset();
        if (first && first->ok() && (*first)->kind == KeywordQueue::Taken::Kind::kKeyword) {
            // No worker had it: no row of the run report.
            ReportRow unreported{.keyword = Shown((*first)->keyword)};
            PutBack(first->value(), unreported);
        }
        if (header_) {
            if (Result<void> e = queue_.Return(header_->keyword, header_->line); !e) {
                Log("错误信息：" + Describe(e.error()));
            }
            header_.reset();
        }
    }

    void Begin() { progress_.Begin(); }

    // Whether the run goes through the provider's batch interface: interface three, asked for, and
    // settings that can work (else the direct run says why, as always).
    bool InBatches() const {
        return inputs_.batch.on && inputs_.request.chosen == Interface::kThree &&
               inputs_.request.chat.error.empty() && !inputs_.request.chat.endpoints.empty();
    }

    JobSummary End(bool started) {
        publish_.End();  // the articles handed over reach their sites (or wait for a later run)
        progress_.End();  // the final figures stay in the progress bar
        std::lock_guard lock(mutex_);
        summary_.figures = meter_.Figures();
        summary_.figures.timeLeft.reset();
        summary_.figures.cost = cost_.SpentText();
        summary_.capReached = cost_.CapReached();
        if (started) {
            request_.LogFigures();
            check_.LogFigures();
        }
        if (summary_.keywordsWithTokens > 0) {
            Log("本次任务共消耗Token：" + TokenCounts(summary_.tokens) + "（" +
                std::to_string(summary_.keywordsWithTokens) + "个关键词）");
        }
        cost_.LogClosingLines();
        summary_.end = !started                               ? RunEnd::kNotStarted
                       : endedEarly_ || summary_.capReached  ? RunEnd::kEndedEarly
                       : stop_.StopRequested()   ? RunEnd::kStopped
                                                 : RunEnd::kListDone;
        return summary_;
    }

private:
    void Log(const Text& message) { log_.Log(message); }

    // The folder the job's files are in (a relative links file is named from there).
    static Text ProgramFolderOf(const JobPaths& paths) {
        const std::string_view tail = kRunLockTail;
        const Text& lock = paths.runLock;
        return lock.ends_with(tail) && lock.size() > tail.size() ? lock.substr(0, lock.size() - tail.size() - 1)
                                                                  : Text();
    }

    // How the log names a keyword: the first field of its line.
    static Text Shown(const Text& line) { return line.substr(0, line.find('\t')); }

    // The columns of the list are known before any keyword is asked for: its first line is taken
    // here, and when it names the columns it is kept out of the run (and put back at its end); else
    // the first worker gets it.
    bool PrepareTemplates() {
        std::optional<KeywordColumns> columns;
        Result<KeywordQueue::Taken> first = queue_.TakeNextKeyword();
        if (first.ok() && first->kind == KeywordQueue::Taken::Kind::kKeyword &&
            (columns = ReadColumnHeader(first->keyword))) {
            header_ = std::move(first.value());
            progress_.SetLinesThatAreNoKeywords(1);
        } else {
            firstTaken_ = std::move(first);
        }
        if (!templates_.Prepare(columns, stop_)) {
            GiveBackFirstLines();
            (void)queue_.Flush();  // what it cannot write, the journal keeps for the next run
            return false;
        }
        return true;
    }

    Result<KeywordQueue::Taken> TakeNext() {
        {
            std::lock_guard lock(mutex_);
            if (firstTaken_) {
                Result<KeywordQueue::Taken> first = std::move(*firstTaken_);
                firstTaken_.reset();
                return first;
            }
        }
        return queue_.TakeNextKeyword();
    }

    // The next keyword of the list; none when the list cannot be read (the run ends early) or has
    // no keyword left to take now (an empty line or another encoding ends the run).
    std::optional<KeywordQueue::Taken> TakeKeyword() {
        Result<KeywordQueue::Taken> next = TakeNext();
        if (!next) {
            Log("错误信息：" + Describe(next.error()));
            EndEarly();
            return std::nullopt;
        }
        if (next->kind != KeywordQueue::Taken::Kind::kKeyword) {
            if (next->keywordsBehind > 0) {
                Halted(*next);
            }
            ending_ = true;
            return std::nullopt;
        }
        return std::move(next.value());
    }

    // The run ends with keywords left in the list.
    void EndEarly() {
        endedEarly_ = true;
        ending_ = true;
    }

    // A line that ends the run stands before keywords: the user should know they were not reached.
    void Halted(const KeywordQueue::Taken& taken) {
        const Text left = std::to_string(taken.keywordsBehind);
        if (taken.halt == KeywordQueue::Taken::Halt::kOtherEncoding) {
            Log(Text("关键词列表从这里起是") + EncodingName(taken.other) + "编码，本次任务到此结束，后面还有" + left +
                "个关键词，下次开始时按这种编码接着读取");
        } else {
            Log("关键词列表中遇到空行，本次任务到此结束，空行后还有" + left + "个关键词，删去空行后再开始即可接着生成");
        }
        EndEarly();
    }

public:
    // --- The provider's batch interface --------------------------------------------------------

    // The run through the main endpoint's files and batches: the batches recorded by earlier runs
    // are collected first, then the list goes out in parts, each part's results are written as
    // direct replies would be, and the lines without a reply get a direct request (or go to the
    // failure list). A stop leaves every submitted batch at the service for a later run. Without
    // `submitNew` only the recorded batches are collected (a direct run after a batch run).
    // False when the run cannot go on.
    bool WorkInBatches(const std::atomic<bool>& stopFlag, bool submitNew = true) {
        const ChatEndpoint& main = inputs_.request.chat.endpoints.front();
        BatchConnection connection;
        connection.endpoints = BatchEndpointsOf(main.config.chatUrl);
        connection.key = main.key.empty() ? inputs_.request.key : main.key;
        if (main.config.proxy) {
            connection.proxyHostPort = main.config.proxy->hostPort;
            connection.proxyUser = main.config.proxy->user;
            connection.proxyPassword = main.config.proxy->password;
            connection.proxyShown = main.config.proxy->Shown();
        }
        BatchService service(connection, &stopFlag);
        BatchRecord record(inputs_.batch.record);
        BatchObserver observer{.log = [this](const Text& line) { Log(line); }, .figures = {}};
        BatchSubmissions submissions(record, service, observer, stopFlag);
        if (Result<void> loaded = submissions.Load(journalInFlight_); !loaded) {
            Log("错误信息：" + Describe(loaded.error()));
            EndEarly();
            return false;
        }
        const auto bodyFor = [&main](const PartKeyword& keyword) {
            return BatchRequestBody(ChatRequestBody(main.config, keyword.keyword));
        };
        const ResultSink sink = [&](const BatchPart&, const PartKeyword& keyword, const BatchLineResult& result) {
            return SettleBatchLine(keyword, result);
        };
        // Earlier runs' batches first, so that none of their keywords is asked for again.
        if (submissions.PartCount() > 0) {
            Log("收取以前提交的批量任务：" + std::to_string(submissions.PartCount()) + "个部分");
            if (!Went(submissions.SubmitAll(bodyFor)) || !Went(submissions.CollectAll(sink)) ||
                !AskOpenDirectly(submissions, stopFlag)) {
                return false;
            }
        }
        if (!submitNew) {
            return !stop_.StopRequested();
        }
        const Text runId = NewRunId(std::time(nullptr));
        while (!stop_.StopRequested() && !ending_.load() && !cost_.CapReached()) {
            std::vector<PartKeyword> part = TakePart(main);
            if (part.empty()) {
                break;
            }
            Text partId;
            if (Result<void> added = submissions.AddPart(part, runId, partId); !added) {
                Log("错误信息：" + Describe(added.error()));
                for (const PartKeyword& keyword : part) {
                    ReportRow row{.keyword = keyword.keyword};
                    PutBack(Taken(keyword), row);
                    AddRow(row);
                }
                EndEarly();
                return false;
            }
            for (const PartKeyword& keyword : part) {
                Settled(Taken(keyword));
            }
            if (Result<void> owned = submissions.Own(partId); !owned) {
                Log("错误信息：" + Describe(owned.error()));
                EndEarly();
                return false;
            }
            Log("批量任务第" + partId.substr(partId.rfind('-') + 1) + "部分：" + std::to_string(part.size()) + "个关键词");
            if (!Went(submissions.SubmitAll(bodyFor))) {
                return false;
            }
            // With a cap, what a part cost is known before the next one goes out.
            if (cost_.KeywordsWithinCap(true) &&
                (!Went(submissions.CollectAll(sink)) || !AskOpenDirectly(submissions, stopFlag))) {
                return false;
            }
        }
        if (stop_.StopRequested()) {
            return false;
        }
        return Went(submissions.CollectAll(sink)) && AskOpenDirectly(submissions, stopFlag);
    }

    // Batches an earlier run recorded, which a direct run on interface three collects first.
    bool HasRecordedBatches() const {
        if (inputs_.request.chosen != Interface::kThree || !inputs_.request.chat.error.empty() ||
            inputs_.request.chat.endpoints.empty() || inputs_.batch.record.empty()) {
            return false;
        }
        BatchRecord record(inputs_.batch.record);
        return record.Load() && !record.parts().empty();
    }

private:
    static KeywordQueue::Taken Taken(const PartKeyword& keyword) {
        KeywordQueue::Taken taken;
        taken.kind = KeywordQueue::Taken::Kind::kKeyword;
        taken.keyword = keyword.keyword;
        taken.line = keyword.line.empty() ? keyword.keyword : keyword.line;
        return taken;
    }

    // The next keywords of the list, as many as one batch may hold.
    std::vector<PartKeyword> TakePart(const ChatEndpoint& main) {
        PartCutter cutter(kMaxLinesPerPart, inputs_.batch.megabytesPerPart * 1024 * 1024);
        // A cap holds a part to the keywords its money is estimated to pay for.
        const std::size_t most = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(kMaxLinesPerPart),
                                cost_.KeywordsWithinCap(true).value_or(static_cast<long long>(kMaxLinesPerPart))));
        if (most == 0) {
            return {};
        }
        std::vector<PartKeyword> part;
        const Text chatPath = BatchEndpointsOf(main.config.chatUrl).chatPath;
        while (!stop_.StopRequested() && !ending_.load()) {
            const std::optional<KeywordQueue::Taken> next = TakeKeyword();
            if (!next) {
                break;
            }
            const KeywordQueue::Taken& taken = *next;
            if (inputs_.take.skipExisting->On() && output_.Exists(taken.keyword, taken.original)) {
                Log("关键词【" + taken.keyword + "】已有生成内容，跳过");
                Count(&JobSummary::skipped);
                meter_.Skipped();
                Settled(taken);
                ReportRow row{.keyword = taken.keyword, .outcome = KeywordOutcome::kSkipped};
                AddRow(row);
                continue;
            }
            const std::size_t bytes =
                BatchInputLine(CustomIdOf(taken.keyword), chatPath,
                               BatchRequestBody(ChatRequestBody(main.config, taken.keyword)))
                    .size();
            if (!cutter.Take(bytes)) {
                ReportRow next{.keyword = taken.keyword};  // no row: it is taken again at once
                PutBack(taken, next);  // the first keyword of the next part
                break;
            }
            part.push_back(PartKeyword{.customId = {},
                                       .keyword = taken.keyword,
                                       .line = taken.line == taken.keyword ? Bytes() : taken.line,
                                       .done = false});
            if (cutter.lines() >= most) {
                break;
            }
        }
        return part;
    }

    // A step of the submissions; false when the run cannot go on.
    bool Went(const BatchProgress& progress) {
        if (progress.kind == BatchProgress::Kind::kStopped) {
            Log("批量任务留在服务商处，下次开始时先取回它的结果");
        }
        if (progress.kind == BatchProgress::Kind::kFailed) {
            if (!progress.detail.empty()) {
                Log("错误信息：" + progress.detail);
            }
            EndEarly();
        }
        return progress.kind == BatchProgress::Kind::kDone;
    }

    // One line of a batch's results: written as a direct reply would be, or left for a direct
    // request, or on the failure list.
    Settlement SettleBatchLine(const PartKeyword& keyword, const BatchLineResult& result) {
        ReportRow row{.keyword = keyword.keyword, .endpoint = "端点1", .tries = 1};
        return SettleBatchLine(keyword, result, row);
    }

    Settlement SettleBatchLine(const PartKeyword& keyword, const BatchLineResult& result, ReportRow& row) {
        if (!result.ok) {
            if (inputs_.batch.failedDirect) {
                return Settlement::kLeftOpen;
            }
            Log("关键词【" + keyword.keyword + "】内容生成失败！");
            Log("错误信息：" + result.error);
            if (Result<void> e = AppendFailedKeyword(queue_.paths().failureList, keyword.keyword); !e) {
                Log("错误信息：" + Describe(e.error()));
                return Settlement::kStop;
            }
            Count(&JobSummary::failed);
            meter_.Failed();
            progress_.Changed();
            row.outcome = KeywordOutcome::kFailed;
            row.reason = result.error;
            AddRow(row);
            return Settlement::kDone;
        }
        ChatExchange exchange;
        HttpResponse response;
        response.status = result.status;
        response.body = result.body;
        exchange.reply = response;
        const GenerationOutcome outcome = ChatOutcome(exchange, std::time(nullptr));
        RecordTokens(keyword.keyword, outcome, row);
        cost_.Record(keyword.keyword, outcome, true);
        if (!outcome.ok || outcome.text.empty()) {
            BatchLineResult failed = result;
            failed.ok = false;
            failed.error = outcome.errorDetail;
            return SettleBatchLine(keyword, failed, row);
        }
        if (inputs_.report.preview->On()) {
            Log(outcome.text);
        }
        const Text article = inputs_.write.asHtml->On() ? ToParagraphHtml(outcome.text) : outcome.text;
        const Text fileName = output_.NameOf(keyword.keyword).value_or(Text());
        if (Result<void> e = output_.Save(keyword.keyword, article); !e) {
            Log("错误信息：" + Describe(e.error()));
            return Settlement::kStop;
        }
        Count(&JobSummary::succeeded);
        meter_.Succeeded();
        progress_.Changed();
        row.outcome = KeywordOutcome::kWritten;
        row.characters = static_cast<long long>(CountCharacters(outcome.text));
        row.fileName = fileName;
        AddRow(row);
        Log("关键词【" + keyword.keyword + "】内容生成成功，已保存到本地目录中！");
        return Settlement::kDone;
    }

    // The keywords whose batch line had no reply: one direct request each. False when the run
    // cannot go on.
    bool AskOpenDirectly(BatchSubmissions& submissions, const std::atomic<bool>& stopFlag) {
        for (const auto& [partId, keyword] : submissions.OpenKeywords()) {
            // (ending_ only says that the list has ended here.)
            if (stopFlag.load() || endedEarly_.load() || cost_.CapReached()) {
                return false;
            }
            Log("关键词【" + keyword.keyword + "】批量任务中没有结果，直接请求");
            // Asked as a direct run asks: through the article checks.
            const Text fileName = output_.NameOf(keyword.keyword).value_or(Text());
            const CheckedReply checked = check_.Obtain(keyword.keyword, fileName, request_, stop_);
            const GenerationOutcome& outcome = checked.outcome;
            if (outcome.cancelled || outcome.unusableSettings) {
                if (outcome.unusableSettings) {
                    if (!outcome.errorDetail.empty()) {
                        Log("错误信息：" + outcome.errorDetail);
                    }
                    EndEarly();
                }
                return false;  // it stays open in the record for a later run
            }
            ReportRow row{.keyword = keyword.keyword, .endpoint = outcome.endpoint, .tries = outcome.requests};
            RecordTokens(keyword.keyword, outcome, row);
            cost_.Record(keyword.keyword, outcome);
            if (!checked.failedCheck.empty()) {
                Log("关键词【" + keyword.keyword + "】未通过检查：" + checked.failedCheck);
                row.reason = checked.failedCheck;
            }
            if (checked.passed) {
                const Text article = inputs_.write.asHtml->On() ? ToParagraphHtml(checked.article) : checked.article;
                if (Result<void> e = output_.Save(keyword.keyword, article); !e) {
                    check_.NotWritten(fileName);
                    Log("错误信息：" + Describe(e.error()));
                    EndEarly();
                    return false;
                }
                check_.Written(fileName);
                Count(&JobSummary::succeeded);
                meter_.Succeeded();
                row.outcome = KeywordOutcome::kWritten;
                row.characters = static_cast<long long>(CountCharacters(checked.article));
                row.fileName = fileName;
                Log("关键词【" + keyword.keyword + "】内容生成成功，已保存到本地目录中！");
            } else {
                Log("关键词【" + keyword.keyword + "】内容生成失败！");
                if (!outcome.errorDetail.empty()) {
                    Log("错误信息：" + outcome.errorDetail);
                }
                row.outcome = KeywordOutcome::kFailed;
                if (row.reason.empty()) {
                    row.reason = outcome.errorDetail.empty() ? Text("服务没有返回任何内容") : outcome.errorDetail;
                }
                if (Result<void> e = AppendFailedKeyword(queue_.paths().failureList, keyword.keyword); !e) {
                    Log("错误信息：" + Describe(e.error()));
                    EndEarly();
                    return false;
                }
                Count(&JobSummary::failed);
                meter_.Failed();
            }
            progress_.Changed();
            AddRow(row);
            if (Result<void> e = submissions.Settle(partId, keyword.customId); !e) {
                Log("错误信息：" + Describe(e.error()));
                EndEarly();
                return false;
            }
        }
        return true;
    }

    // --- Record the outcome -------------------------------------------------------------------

    // Back to the front of the list. When even that fails, the keyword is still in the journal,
    // whose unsettled keywords the next run (or start of the program) puts back first.
    void PutBack(const KeywordQueue::Taken& taken, ReportRow& row) {
        row.outcome = KeywordOutcome::kReturned;
        const Text& keyword = taken.keyword;
        if (Result<void> e = queue_.Return(keyword, taken.line); !e) {
            Log("错误信息：" + Describe(e.error()));
            Log("关键词【" + Shown(keyword) + "】将在下次运行时放回待采集关键词列表");
        } else {
            Log("关键词【" + Shown(keyword) + "】已放回待采集关键词列表");
        }
        Count(&JobSummary::returned);
    }

    // An outcome that could not be recorded: asking again would only buy the same answer again and
    // fail the same way, so the keyword goes back and the run takes no further one.
    void Unrecorded(const KeywordQueue::Taken& taken, const Error& error, ReportRow& row) {
        Log("错误信息：" + Describe(error));
        row.reason = Describe(error);
        PutBack(taken, row);
        EndEarly();
    }

    // The outcome is recorded: the keyword leaves the journal. When the journal cannot say so, the
    // keyword stays in it (the next run puts it back: done twice, never lost) and the run ends, as
    // every further keyword would need the journal too.
    void Settled(const KeywordQueue::Taken& taken) {
        if (Result<void> e = queue_.Finish(taken.keyword, taken.line); !e) {
            Log("错误信息：" + Describe(e.error()));
            Log("关键词【" + Shown(taken.keyword) + "】将在下次运行时放回待采集关键词列表");
            EndEarly();
        }
    }

    void RecordFailure(const KeywordQueue::Taken& taken, const Text& detail, ReportRow& row) {
        Log("关键词【" + Shown(taken.keyword) + "】内容生成失败！");
        if (!detail.empty()) {
            Log("错误信息：" + detail);
        }
        row.outcome = KeywordOutcome::kFailed;
        if (row.reason.empty()) {
            row.reason = detail.empty() ? Text("服务没有返回任何内容") : detail;
        }
        if (Result<void> e = AppendFailedKeyword(queue_.paths().failureList, taken.keyword); !e) {
            Unrecorded(taken, e.error(), row);
            return;
        }
        Count(&JobSummary::failed);
        meter_.Failed();
        Settled(taken);
    }

    void RecordTokens(const Text& keyword, const GenerationOutcome& outcome, ReportRow& row) {
        if (outcome.usage) {
            row.promptTokens = outcome.usage->promptTokens;
            row.completionTokens = outcome.usage->completionTokens;
            Log("关键词【" + keyword + "】消耗Token：" + TokenCounts(*outcome.usage));
            std::lock_guard lock(mutex_);
            summary_.tokens += *outcome.usage;
            ++summary_.keywordsWithTokens;
        }
    }

    void Count(int JobSummary::*field) {
        std::lock_guard lock(mutex_);
        ++(summary_.*field);
    }

    // --- The stages of one keyword -------------------------------------------------------------

    // The whole work for one keyword; its row of the run report is added when its outcome is
    // recorded.
    void Process(const KeywordQueue::Taken& taken) {
        const KeywordRow keywordRow = templates_.Row(taken.keyword);
        const Text& keyword = keywordRow.keyword();
        ReportRow row{.keyword = keyword};
        // Take: a keyword whose article exists is passed over.
        if (inputs_.take.skipExisting->On() && output_.Exists(keyword, OriginalName(taken))) {
            Log("关键词【" + keyword + "】已有生成内容，跳过");
            Count(&JobSummary::skipped);
            meter_.Skipped();
            Settled(taken);
            row.outcome = KeywordOutcome::kSkipped;
            AddRow(row);
            return;
        }
        Log("开始生成关键词【" + keyword + "】相关内容");
        Log("Chat GPT 思考中，请耐心等待.....");
        // Without the folder's names the duplicate check goes by an empty name; Save meets the
        // same failure and tells it.
        const Text fileName = output_.NameOf(keyword, OriginalName(taken)).value_or(Text());
        // The steps before the article go straight to the service; the article's reply goes
        // through the checks.
        CheckedReply checked;
        const TemplateStage::Written written =
            templates_.Ask(request_, keywordRow, stop_, [&](const Text& asked, const ChatMessages* messages) {
                checked = check_.Obtain(asked, fileName, request_, stop_, messages);
                return checked.outcome;
            });
        // The usage and requests of every step; a step that failed leaves its own outcome.
        checked.outcome = written.outcome;
        row.endpoint = checked.outcome.endpoint;
        row.tries = checked.outcome.requests;
        const Text saved = Settle(taken, keywordRow, written.title, checked, fileName, row);
        RecordTokens(keyword, checked.outcome, row);
        cost_.Record(keyword, checked.outcome);
        AddRow(row);
        // Publish: handed over, posted by the publisher's own workers.
        if (!saved.empty()) {
            publish_.Written(saved, keyword);
        }
    }

    // The name the article's file is told apart by when the line had characters GBK lacks: its
    // first field.
    static Text OriginalName(const KeywordQueue::Taken& taken) {
        return taken.original.substr(0, taken.original.find('\t'));
    }

    void AddRow(ReportRow& row) {
        row.when = std::time(nullptr);
        row.cost = cost_.TakeKeyword(row.keyword);
        if (Result<void> e = report_.Add(row); !e && !reportFailed_.exchange(true)) {
            Log("错误信息：运行报告无法写入 " + Describe(e.error()));
        }
    }

    // Check the reply, write the article, record the outcome. The article's name in the folder
    // when it was written, else empty.
    Text Settle(const KeywordQueue::Taken& taken, const KeywordRow& keywordRow, const std::optional<Text>& title,
                const CheckedReply& checked, const Text& fileName, ReportRow& row) {
        const Text& keyword = keywordRow.keyword();
        const GenerationOutcome& outcome = checked.outcome;
        if (outcome.unusableSettings && !outcome.errorDetail.empty()) {
            Log("错误信息：" + outcome.errorDetail);
        }
        if (outcome.cancelled || outcome.unusableSettings) {
            row.reason = outcome.cancelled ? Text("任务已停止") : outcome.errorDetail;
            PutBack(taken, row);
            if (outcome.unusableSettings) {
                EndEarly();
            }
            ending_ = true;
            return {};
        }
        if (!checked.failedCheck.empty()) {
            Log("关键词【" + keyword + "】未通过检查：" + checked.failedCheck);
            row.reason = checked.failedCheck;
        }
        if (!checked.passed) {
            if (inputs_.report.preview->On() && !outcome.text.empty()) {
                Log(outcome.text);
            }
            RecordFailure(taken, outcome.errorDetail, row);
            return {};
        }
        if (inputs_.report.preview->On()) {
            Log(checked.article);
        }
        const Text article = templates_.Finish(title, checked.article, keywordRow, inputs_.write.asHtml->On());
        Text saved;
        if (Result<void> e = output_.Save(keyword, article, OriginalName(taken), &saved); !e) {
            check_.NotWritten(fileName);
            Unrecorded(taken, e.error(), row);
            return {};
        }
        check_.Written(fileName);
        row.outcome = KeywordOutcome::kWritten;
        row.characters = static_cast<long long>(CountCharacters(checked.article));
        row.fileName = fileName;
        Count(&JobSummary::succeeded);
        meter_.Succeeded();
        Log("关键词【" + keyword + "】内容生成成功，已保存到本地目录中！");
        Settled(taken);
        return saved;
    }

    const RunInputs& inputs_;
    KeywordQueue& queue_;
    RunReporter& log_;
    const StopToken stop_;
    std::atomic<bool> ending_{false};
    std::atomic<bool> endedEarly_{false};
    std::vector<Bytes> journalInFlight_;
    RequestStage request_;
    CostStage cost_;
    TemplateStage templates_;
    std::optional<KeywordQueue::Taken> header_;                 // the line that names the columns
    std::optional<Result<KeywordQueue::Taken>> firstTaken_;  // taken before the workers began
    CheckStage check_;
    RunReport report_;
    std::atomic<bool> reportFailed_{false};
    OutputFolder output_;
    ProgressMeter meter_;
    ProgressTeller progress_;
    PublishStage publish_;
    std::mutex mutex_;
    JobSummary summary_;
};

}  // namespace

JobSummary RunJob(const RunInputs& inputs, RunObserver& observer, const StopToken& stop, const RunHooks& hooks) {
    observer.Running(true);
    KeywordQueue queue(inputs.take.files);
    RunReporter log(observer, inputs.take.files.runLogFolder);
    JobSummary summary;
    {
        Run run(inputs, queue, log, observer, stop);
        run.Begin();
        const bool started = run.Prepare();
        if (started && run.InBatches()) {
            run.WorkInBatches(*stop.Flag());
            run.WriteListBack();
        } else if (started && run.HasRecordedBatches() && !run.WorkInBatches(*stop.Flag(), false)) {
            run.WriteListBack();
        } else if (started) {
            std::vector<std::thread> helpers;
            for (int i = 1; i < inputs.request.workers; ++i) {
                helpers.emplace_back([&run] { run.Work(); });
            }
            run.Work();
            for (std::thread& t : helpers) {
                t.join();
            }
            run.WriteListBack();
        }
        summary = run.End(started);
    }
    queue.UnlockRun();
    if (hooks.onRunEnding) {
        hooks.onRunEnding();
    }
    observer.Running(false);
    log.Log(summary.end == RunEnd::kStopped && hooks.interrupted && hooks.interrupted() ? "任务已停止" : "任务完成！");
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

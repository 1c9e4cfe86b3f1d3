#include "batch/batch_submissions.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/local_time.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

std::atomic<void (*)(BatchStep)> g_beforeStep{nullptr};
std::atomic<long long> g_firstPollMs{10'000};
std::atomic<long long> g_mostPollMs{300'000};

// A request that meets no reply or a busy service is tried this often before the run gives up on
// it for now (the record keeps the part for a later run).
constexpr int kTries = 6;
// The service's list of batches is searched this far back for a part's batch.
constexpr int kMostPagesSearched = 20;
constexpr long long kClockSlackSeconds = 24 * 3600;

void Before(BatchStep step) {
    if (void (*hook)(BatchStep) = g_beforeStep.load()) {
        hook(step);
    }
}

// A refused key or account: every part would meet the same answer.
bool RefusesAccount(const BatchFailure& failure) {
    return failure.status == 401 || failure.status == 402 || failure.status == 403;
}

Text PartNumber(const Text& partId) {
    const std::size_t dash = partId.rfind('-');
    return dash == Text::npos ? partId : partId.substr(dash + 1);
}

Text RunIdOf(const Text& partId) {
    const std::size_t dash = partId.rfind('-');
    return dash == Text::npos ? partId : partId.substr(0, dash);
}

Text LineOf(const PartKeyword& keyword) {
    return keyword.line.empty() ? keyword.keyword : keyword.line;
}

}  // namespace

PollSchedule::PollSchedule()
    : next_(std::chrono::milliseconds(g_firstPollMs.load())), most_(std::chrono::milliseconds(g_mostPollMs.load())) {}

std::chrono::milliseconds PollSchedule::Next() {
    const std::chrono::milliseconds wait = next_;
    next_ = std::min(most_, next_ * 3 / 2);
    return wait;
}

void PollSchedule::SetIntervals(std::chrono::milliseconds first, std::chrono::milliseconds most) {
    g_firstPollMs.store(first.count());
    g_mostPollMs.store(most.count());
}

Text BatchStatusText(const Text& status) {
    static constexpr struct {
        const char* status;
        const char* text;
    } kTexts[] = {
        {"validating", "校验中"}, {"in_progress", "进行中"}, {"finalizing", "整理结果中"}, {"completed", "已完成"},
        {"failed", "失败"},       {"expired", "已过期"},     {"cancelling", "取消中"},     {"cancelled", "已取消"},
    };
    for (const auto& entry : kTexts) {
        if (status == entry.status) {
            return entry.text;
        }
    }
    return status;
}

Text NewRunId(std::time_t start) {
    const std::tm local = LocalTime(start);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char letters[8];
    std::snprintf(letters, sizeof letters, "%06x", static_cast<unsigned>(random() & 0xFFFFFF));
    return Text(stamp) + "-" + letters;
}

void BatchSubmissions::SetBeforeStep(void (*hook)(BatchStep step)) {
    g_beforeStep.store(hook);
}

BatchSubmissions::BatchSubmissions(BatchRecord& record, BatchService& service, BatchObserver observer,
                                   const std::atomic<bool>& stop)
    : record_(record), service_(service), observer_(std::move(observer)), stop_(stop) {}

void BatchSubmissions::Log(const Text& line) const {
    if (observer_.log) {
        observer_.log(line);
    }
}

bool BatchSubmissions::Wait(std::chrono::milliseconds delay) const {
    const auto until = std::chrono::steady_clock::now() + delay;
    while (!stop_.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
    }
    return false;
}

BatchProgress BatchSubmissions::Saved() {
    if (Result<void> saved = record_.Save(); !saved) {
        return {BatchProgress::Kind::kFailed, Describe(saved.error())};
    }
    return {};
}

Result<void> BatchSubmissions::Load(const std::vector<Bytes>& unsettledLines) {
    if (Result<void> loaded = record_.Load(); !loaded) {
        return loaded;
    }
    std::map<Bytes, int> inFlight;
    for (const Bytes& line : unsettledLines) {
        ++inFlight[line];
    }
    bool changed = false;
    for (BatchPart& part : record_.parts()) {
        if (part.stage == PartStage::kTaken) {
            // The list gives these back: they were never the part's.
            std::erase_if(part.keywords, [&](const PartKeyword& keyword) {
                const auto found = inFlight.find(LineOf(keyword));
                return found != inFlight.end() && found->second-- > 0;
            });
            part.stage = PartStage::kPrepared;
            changed = true;
        }
        if (part.stage == PartStage::kUploaded) {
            mayExist_.insert(part.id);
        }
    }
    const std::size_t before = record_.parts().size();
    std::erase_if(record_.parts(),
                  [](const BatchPart& part) { return part.keywords.empty() && part.stage <= PartStage::kUploaded; });
    record_.DropSettledParts();
    if (changed || record_.parts().size() != before) {
        return record_.Save();
    }
    return Success();
}

Result<void> BatchSubmissions::AddPart(std::vector<PartKeyword> keywords, const Text& runId, Text& partId) {
    TextList ids;
    for (const PartKeyword& keyword : keywords) {
        ids.push_back(CustomIdOf(keyword.keyword));
    }
    MakeUniqueCustomIds(ids);
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        keywords[i].customId = ids[i];
        keywords[i].done = false;
    }
    const auto earlier = std::count_if(record_.parts().begin(), record_.parts().end(),
                                       [&](const BatchPart& part) { return RunIdOf(part.id) == runId; });
    BatchPart part;
    part.id = runId + "-" + std::to_string(earlier + 1);
    part.stage = PartStage::kTaken;
    part.prepared = std::time(nullptr);
    part.keywords = std::move(keywords);
    partId = part.id;
    Before(BatchStep::kRecordTaken);
    record_.parts().push_back(std::move(part));
    return record_.Save();
}

Result<void> BatchSubmissions::Own(const Text& partId) {
    BatchPart* part = record_.Find(partId);
    if (part == nullptr || part->stage != PartStage::kTaken) {
        return Success();
    }
    Before(BatchStep::kRecordOwned);
    part->stage = PartStage::kPrepared;
    return record_.Save();
}

BatchProgress BatchSubmissions::SubmitAll(const RequestBodyFor& bodyFor) {
    TextList pending;
    for (const BatchPart& part : record_.parts()) {
        if (part.stage == PartStage::kPrepared || part.stage == PartStage::kUploaded) {
            pending.push_back(part.id);
        }
    }
    for (const Text& id : pending) {
        BatchPart* part = record_.Find(id);
        if (part == nullptr) {
            continue;
        }
        if (BatchProgress progress = Submit(*part, bodyFor); progress.kind != BatchProgress::Kind::kDone) {
            return progress;
        }
    }
    return {};
}

BatchProgress BatchSubmissions::EndWithoutBatch(BatchPart& part, const Text& reason) {
    Log("批量任务第" + PartNumber(part.id) + "部分无法提交：" + reason);
    notSubmittedReason_[part.id] = "批量任务无法提交：" + reason;
    Before(BatchStep::kRecordEnded);
    part.stage = PartStage::kEnded;
    part.endStatus = kNotSubmitted;
    return Saved();
}

BatchAnswer<std::optional<BatchInfo>> BatchSubmissions::FindCreated(const BatchPart& part) {
    BatchAnswer<std::optional<BatchInfo>> answer;
    Text after;
    for (int page = 0; page < kMostPagesSearched; ++page) {
        BatchAnswer<BatchPage> listed = service_.ListBatches(after);
        if (!listed.ok()) {
            answer.failure = listed.failure;
            return answer;
        }
        bool older = false;
        for (const BatchInfo& batch : listed.value->batches) {
            const auto tag = batch.metadata.find(kPartMetadataKey);
            if (tag != batch.metadata.end() && tag->second == part.id) {
                answer.value = batch;
                return answer;
            }
            older = older ||
                    (batch.createdAt > 0 && part.prepared > 0 && batch.createdAt < part.prepared - kClockSlackSeconds);
        }
        if (older || !listed.value->hasMore) {
            break;
        }
        after = listed.value->batches.back().id;
    }
    answer.value = std::optional<BatchInfo>();
    return answer;
}

BatchProgress BatchSubmissions::Submit(BatchPart& part, const RequestBodyFor& bodyFor) {
    const Text name = "批量任务第" + PartNumber(part.id) + "部分";
    PollSchedule schedule;
    int tries = 0;
    // Whether a failed request may be tried again after a wait; false also when stopped.
    const auto again = [&](const BatchFailure& failure) {
        Log(name + "：" + failure.detail + (failure.transient && tries < kTries ? "，稍后重试" : ""));
        return failure.transient && ++tries < kTries && Wait(schedule.Next());
    };
    const auto gaveUp = [&](const BatchFailure& failure) -> BatchProgress {
        if (stop_.load()) {
            return {BatchProgress::Kind::kStopped, {}};
        }
        return {BatchProgress::Kind::kFailed, name + "无法提交：" + failure.detail};
    };

    if (part.stage == PartStage::kPrepared) {
        std::string jsonl;
        for (const PartKeyword& keyword : part.keywords) {
            jsonl += BatchInputLine(keyword.customId, service_.connection().endpoints.chatPath,
                                    BatchRequestBody(bodyFor(keyword)));
        }
        BatchAnswer<Text> uploaded;
        do {
            Before(BatchStep::kUpload);
            uploaded = service_.UploadFile("qingjian-" + part.id + ".jsonl", jsonl);
        } while (!uploaded.ok() && again(uploaded.failure));
        if (!uploaded.ok()) {
            if (uploaded.failure.transient || RefusesAccount(uploaded.failure) || stop_.load()) {
                return gaveUp(uploaded.failure);
            }
            return EndWithoutBatch(part, uploaded.failure.detail);
        }
        Before(BatchStep::kRecordUploaded);
        part.fileId = *uploaded.value;
        part.stage = PartStage::kUploaded;
        if (BatchProgress saved = Saved(); saved.kind != BatchProgress::Kind::kDone) {
            return saved;
        }
        Log(name + "：已上传输入文件 " + part.fileId + "（" + std::to_string(part.keywords.size()) + "个关键词，" +
            std::to_string((jsonl.size() + 1023) / 1024) + " KB）");
        tries = 0;
    }

    std::optional<BatchInfo> batch;
    while (!batch) {
        if (mayExist_.contains(part.id)) {
            const BatchAnswer<std::optional<BatchInfo>> found = FindCreated(part);
            if (!found.ok()) {
                if (again(found.failure)) {
                    continue;
                }
                // Creating it now might make a second batch of the same keywords.
                BatchProgress progress = gaveUp(found.failure);
                if (progress.kind == BatchProgress::Kind::kFailed) {
                    progress.detail = name +
                                      "：无法在服务商的批量任务列表中确认它是否已经提交，为免重复提交，暂不提交：" +
                                      found.failure.detail;
                }
                return progress;
            }
            if (*found.value) {
                batch = **found.value;
                Log(name + "：在服务商处找到了上次已提交的批量任务 " + batch->id);
                break;
            }
            mayExist_.erase(part.id);
        }
        Before(BatchStep::kCreate);
        BatchAnswer<BatchInfo> created =
            service_.CreateBatch(part.fileId, {{kPartMetadataKey, part.id}, {kRunMetadataKey, RunIdOf(part.id)}});
        if (created.ok()) {
            batch = *created.value;
            break;
        }
        if (created.failure.status == 0 || created.failure.status >= 500) {
            // The service may have made it without its answer reaching us.
            mayExist_.insert(part.id);
        }
        if (again(created.failure)) {
            continue;
        }
        if (created.failure.transient || RefusesAccount(created.failure) || stop_.load()) {
            return gaveUp(created.failure);
        }
        return EndWithoutBatch(part, created.failure.detail);
    }
    Before(BatchStep::kRecordSubmitted);
    part.batchId = batch->id;
    part.stage = PartStage::kSubmitted;
    mayExist_.erase(part.id);
    if (BatchProgress saved = Saved(); saved.kind != BatchProgress::Kind::kDone) {
        return saved;
    }
    Log(name + "：已提交批量任务 " + part.batchId + "（" + std::to_string(part.keywords.size()) +
        "个关键词，24小时内完成）");
    Report(part, *batch);
    return {};
}

void BatchSubmissions::Report(const BatchPart& part, const BatchInfo& info) {
    const auto seen = lastSeen_.find(part.id);
    const bool changed = seen == lastSeen_.end() || seen->second.status != info.status ||
                         seen->second.counts.completed != info.counts.completed ||
                         seen->second.counts.failed != info.counts.failed ||
                         seen->second.counts.total != info.counts.total;
    lastSeen_[part.id] = info;
    if (changed) {
        Log("批量任务 " + info.id + "（第" + PartNumber(part.id) + "部分）：" + BatchStatusText(info.status) +
            "，已完成 " + std::to_string(info.counts.completed) + "/" + std::to_string(info.counts.total) + "，失败 " +
            std::to_string(info.counts.failed));
    }
    if (observer_.figures) {
        BatchFigures figures;
        for (const auto& [id, batch] : lastSeen_) {
            ++figures.batches;
            figures.total += batch.counts.total;
            figures.completed += batch.counts.completed;
            figures.failed += batch.counts.failed;
        }
        figures.polls = polls_;
        observer_.figures(figures);
    }
}

BatchProgress BatchSubmissions::CollectAll(const ResultSink& sink) {
    struct Waiting {
        Text partId;
        PollSchedule schedule;
        std::chrono::steady_clock::time_point due;
        bool failedLastTime = false;
    };
    std::vector<Waiting> waiting;
    TextList ended;
    for (const BatchPart& part : record_.parts()) {
        if (part.stage == PartStage::kSubmitted) {
            waiting.push_back(Waiting{part.id, PollSchedule(), std::chrono::steady_clock::now()});
        } else if (part.stage == PartStage::kEnded) {
            ended.push_back(part.id);
        }
    }
    for (const Text& id : ended) {
        if (BatchPart* part = record_.Find(id)) {
            if (BatchProgress progress = Collect(*part, sink); progress.kind != BatchProgress::Kind::kDone) {
                return progress;
            }
        }
    }
    while (!waiting.empty()) {
        const auto next = std::min_element(waiting.begin(), waiting.end(),
                                           [](const Waiting& a, const Waiting& b) { return a.due < b.due; });
        const auto now = std::chrono::steady_clock::now();
        if (next->due > now && !Wait(std::chrono::ceil<std::chrono::milliseconds>(next->due - now))) {
            return {BatchProgress::Kind::kStopped, {}};
        }
        if (stop_.load()) {
            return {BatchProgress::Kind::kStopped, {}};
        }
        BatchPart* part = record_.Find(next->partId);
        if (part == nullptr || part->stage != PartStage::kSubmitted) {
            waiting.erase(next);
            continue;
        }
        Before(BatchStep::kPoll);
        BatchAnswer<BatchInfo> polled = service_.GetBatch(part->batchId);
        ++polls_;
        if (!polled.ok()) {
            if (stop_.load()) {
                return {BatchProgress::Kind::kStopped, {}};
            }
            if (!polled.failure.transient) {
                return {BatchProgress::Kind::kFailed, "无法查询批量任务 " + part->batchId + "（第" +
                                                          PartNumber(part->id) + "部分）：" + polled.failure.detail};
            }
            if (!next->failedLastTime) {
                Log("查询批量任务 " + part->batchId + " 失败，稍后再查：" + polled.failure.detail);
            }
            next->failedLastTime = true;
            next->due = std::chrono::steady_clock::now() + next->schedule.Next();
            continue;
        }
        next->failedLastTime = false;
        Report(*part, *polled.value);
        if (!polled.value->Ended()) {
            next->due = std::chrono::steady_clock::now() + next->schedule.Next();
            continue;
        }
        Before(BatchStep::kRecordEnded);
        part->stage = PartStage::kEnded;
        part->endStatus = polled.value->status;
        part->outputFileId = polled.value->outputFileId;
        part->errorFileId = polled.value->errorFileId;
        if (!polled.value->errors.empty()) {
            notSubmittedReason_[part->id] = "批量任务失败：" + polled.value->errors;
        }
        if (BatchProgress saved = Saved(); saved.kind != BatchProgress::Kind::kDone) {
            return saved;
        }
        waiting.erase(next);
        if (BatchProgress progress = Collect(*part, sink); progress.kind != BatchProgress::Kind::kDone) {
            return progress;
        }
    }
    return {};
}

BatchProgress BatchSubmissions::Collect(BatchPart& part, const ResultSink& sink) {
    const Text name = "批量任务第" + PartNumber(part.id) + "部分";
    Bytes files[2];
    const Text ids[2] = {part.outputFileId, part.errorFileId};
    for (int i = 0; i < 2; ++i) {
        if (ids[i].empty() || part.endStatus == kNotSubmitted) {
            continue;
        }
        PollSchedule schedule;
        BatchAnswer<Bytes> content;
        for (int tries = 1;; ++tries) {
            Before(BatchStep::kDownload);
            content = service_.FileContent(ids[i]);
            if (content.ok() || !content.failure.transient || tries >= kTries || !Wait(schedule.Next())) {
                break;
            }
        }
        if (!content.ok()) {
            if (stop_.load()) {
                return {BatchProgress::Kind::kStopped, {}};
            }
            return {BatchProgress::Kind::kFailed,
                    name + "的结果文件 " + ids[i] + " 无法下载：" + content.failure.detail};
        }
        files[i] = std::move(*content.value);
    }
    const BatchResults results(files[0], files[1]);
    if (results.unreadable() > 0) {
        Log(name + "的结果中有" + std::to_string(results.unreadable()) + "行无法读取，已跳过");
    }

    Text missing = "批量任务没有给出这一行的结果";
    if (const auto reason = notSubmittedReason_.find(part.id); reason != notSubmittedReason_.end()) {
        missing = reason->second;
    } else if (part.endStatus == kNotSubmitted) {
        missing = "批量任务没能提交";
    } else if (part.endStatus == "expired") {
        missing = "批量任务已过期（24小时内没有完成），这一行没有结果";
    } else if (part.endStatus == "cancelled") {
        missing = "批量任务已取消，这一行没有结果";
    } else if (part.endStatus == "failed") {
        missing = "批量任务失败";
    }
    int answered = 0;
    int open = 0;
    for (std::size_t i = 0; i < part.keywords.size(); ++i) {
        const PartKeyword keyword = part.keywords[i];
        if (keyword.done) {
            continue;
        }
        BatchLineResult result = results.Find(keyword.customId).value_or(BatchLineResult{});
        if (!result.ok && result.error.empty()) {
            result.error = missing;
        }
        Before(BatchStep::kSettle);
        switch (sink(part, keyword, result)) {
            case Settlement::kDone:
                if (Result<void> marked = record_.MarkDone(part.id, keyword.customId); !marked) {
                    return {BatchProgress::Kind::kFailed, Describe(marked.error())};
                }
                answered += result.ok ? 1 : 0;
                break;
            case Settlement::kLeftOpen:
                ++open;
                break;
            case Settlement::kStop:
                return {BatchProgress::Kind::kFailed, {}};
        }
    }
    Log(name + "（" + BatchStatusText(part.endStatus == kNotSubmitted ? Text("未能提交") : part.endStatus) +
        "）已取回：成功" + std::to_string(answered) + "个" +
        (open > 0 ? "，另有" + std::to_string(open) + "个待直接请求" : Text()));
    Before(BatchStep::kRecordCollected);
    part.stage = PartStage::kCollected;
    lastSeen_.erase(part.id);
    record_.DropSettledParts();
    return Saved();
}

void BatchSubmissions::CancelSubmitted() {
    for (const BatchPart& part : record_.parts()) {
        if (part.stage != PartStage::kSubmitted) {
            continue;
        }
        const BatchAnswer<BatchInfo> answer = service_.CancelBatch(part.batchId);
        if (answer.ok()) {
            Log("已请服务商取消批量任务 " + part.batchId + "（第" + PartNumber(part.id) +
                "部分），已完成的结果下次运行时取回");
        } else {
            Log("批量任务 " + part.batchId + " 取消失败：" + answer.failure.detail);
        }
    }
}

std::vector<std::pair<Text, PartKeyword>> BatchSubmissions::OpenKeywords() const {
    std::vector<std::pair<Text, PartKeyword>> open;
    for (const BatchPart& part : record_.parts()) {
        if (part.stage == PartStage::kCollected) {
            for (const PartKeyword& keyword : part.keywords) {
                if (!keyword.done) {
                    open.emplace_back(part.id, keyword);
                }
            }
        }
    }
    return open;
}

Result<void> BatchSubmissions::Settle(const Text& partId, const Text& customId) {
    if (Result<void> marked = record_.MarkDone(partId, customId); !marked) {
        return marked;
    }
    const BatchPart* part = record_.Find(partId);
    if (part != nullptr && part->Open() == 0) {
        record_.DropSettledParts();
        return record_.Save();
    }
    return Success();
}

}  // namespace qj

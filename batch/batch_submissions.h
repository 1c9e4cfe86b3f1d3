#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_lines.h"
#include "batch/batch_record.h"
#include "batch/batch_service.h"
#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// The steps of a submission, in their order; a test may end the process before any of them.
enum class BatchStep {
    kRecordTaken,      // the part's keywords are written into the record
    kRecordOwned,      // the list has let them go: the part is its own
    kUpload,           // its input file goes to the service
    kRecordUploaded,   // the file's id is written into the record
    kCreate,           // its batch is created
    kRecordSubmitted,  // the batch's id is written into the record
    kPoll,             // the batch is asked how far it got
    kRecordEnded,      // its end is written into the record
    kDownload,         // its output and error files are fetched
    kSettle,           // one keyword's result is settled (written, or put on the failure list)
    kRecordCollected,  // the part's results are all settled
};

// Growing waits between two questions to the service: from `first`, half as long again each time,
// up to `most`.
class PollSchedule {
public:
    PollSchedule();
    std::chrono::milliseconds Next();

    // The first and the longest wait for every schedule made from now on (the program's: 10 s and
    // 5 minutes). Tests shorten them.
    static void SetIntervals(std::chrono::milliseconds first, std::chrono::milliseconds most);

private:
    std::chrono::milliseconds next_;
    std::chrono::milliseconds most_;
};

// What the run does with a keyword's result from a batch.
enum class Settlement {
    kDone,      // its outcome is recorded (an article, the failure list)
    kLeftOpen,  // a direct request will be made for it later (OpenKeywords)
    kStop,      // its outcome cannot be recorded (a file cannot be written): stop settling
};
using ResultSink =
    std::function<Settlement(const BatchPart& part, const PartKeyword& keyword, const BatchLineResult& result)>;

// The body of a keyword's direct request (UTF-8 JSON), from which its line of the input file is made.
using RequestBodyFor = std::function<std::string(const PartKeyword& keyword)>;

// How a step of the submissions went.
struct BatchProgress {
    enum class Kind {
        kDone,     // nothing left to do for now
        kStopped,  // the stop flag was set; everything recorded stays for a later run
        kFailed,   // a file could not be written, or the service refuses the key: detail says why;
                   // the record keeps every part for a later run
    } kind = Kind::kDone;
    Text detail;
};

// The figures of the batches that are waited for, as they stood at the last poll.
struct BatchFigures {
    int batches = 0;
    long long total = 0;
    long long completed = 0;
    long long failed = 0;
    int polls = 0;  // questions asked so far in this run
};

// What the submissions report: log lines (GBK) and, after every poll, the figures.
struct BatchObserver {
    std::function<void(const Text& line)> log;
    std::function<void(const BatchFigures& figures)> figures;
};

// Submits keywords through a provider's files and batches interface and collects the results,
// keeping OpenAi/批量任务.txt so that a kill at any step neither loses a keyword nor submits one
// twice:
//  - a part's keywords go into the record before the keyword list lets them go (kTaken), and the
//    record is put right against the list's journal before the list recovers (Reconcile);
//  - the batch is created only after the file's id is recorded, and a batch that may have been
//    created without its id being recorded is looked for first, by the part's id in its metadata,
//    in the service's list of batches;
//  - a batch's end is recorded before its results are settled, and each settled keyword is marked
//    in the record (a result settled again after a kill writes the same article again).
class BatchSubmissions {
public:
    BatchSubmissions(BatchRecord& record, BatchService& service, BatchObserver observer, const std::atomic<bool>& stop);

    // Reads the record. Parts whose keywords were taken but maybe not let go by the list keep only
    // the keywords that `unsettledLines` (the lines the list's journal still holds in flight, which
    // the list will get back) does not claim; they are the parts' own from then on.
    [[nodiscard]] Result<void> Load(const std::vector<Bytes>& unsettledLines);

    // Records a new part of keywords just taken from the list (their custom ids made unique) for the
    // run `runId` (see NewRunId); `partId` gets the part's id: the run's id and the part's number.
    [[nodiscard]] Result<void> AddPart(std::vector<PartKeyword> keywords, const Text& runId, Text& partId);
    // The list has let the part's keywords go: they are the part's own.
    [[nodiscard]] Result<void> Own(const Text& partId);

    // Uploads and creates the batch of every part not yet submitted (finding the batch of one that
    // may have been created already). A part the service will not take (it knows no batches, or
    // refuses the file) ends as not submitted, each keyword with that reason as its result.
    BatchProgress SubmitAll(const RequestBodyFor& bodyFor);

    // Asks after every submitted batch at growing intervals until each has ended, logging each
    // change of status and counts; settles each ended part's results through `sink` as it ends.
    BatchProgress CollectAll(const ResultSink& sink);

    // Asks the service to cancel every submitted batch (its finished lines are still collected by a
    // later run).
    void CancelSubmitted();

    // The open keywords of collected parts: each waits for a direct request (or the failure list).
    std::vector<std::pair<Text, PartKeyword>> OpenKeywords() const;
    // A keyword of a collected part is settled; a part with none left open leaves the record.
    [[nodiscard]] Result<void> Settle(const Text& partId, const Text& customId);

    // How many parts the record holds, and how many of them have a batch at the service.
    int PartCount() const { return static_cast<int>(record_.parts().size()); }
    const BatchRecord& record() const { return record_; }

    // Called before every step, from the thread that takes it: lets a test end the process there.
    static void SetBeforeStep(void (*hook)(BatchStep step));

private:
    void Log(const Text& line) const;
    BatchProgress Submit(BatchPart& part, const RequestBodyFor& bodyFor);
    // The batch created for a part before a kill (or a reply that never came), if the service has one.
    BatchAnswer<std::optional<BatchInfo>> FindCreated(const BatchPart& part);
    BatchProgress EndWithoutBatch(BatchPart& part, const Text& reason);
    BatchProgress Collect(BatchPart& part, const ResultSink& sink);
    BatchProgress Saved();
    void Report(const BatchPart& part, const BatchInfo& info);
    bool Wait(std::chrono::milliseconds delay) const;

    BatchRecord& record_;
    BatchService& service_;
    BatchObserver observer_;
    const std::atomic<bool>& stop_;
    std::set<Text> mayExist_;                  // parts whose batch may exist without its id recorded
    std::map<Text, BatchInfo> lastSeen_;       // by part id
    std::map<Text, Text> notSubmittedReason_;  // by part id
    int polls_ = 0;
};

// An id for a run's parts that no other run (of this or another program on the same account)
// has: its start time and random letters ("20250301-142501-3f9a0c").
Text NewRunId(std::time_t start);

// How a batch's status reads in the log: 校验中, 进行中, 整理结果中, 已完成, 失败, 已过期, 取消中, 已取消.
Text BatchStatusText(const Text& status);

// The metadata keys that name a part and its run in a batch.
inline constexpr const char* kPartMetadataKey = "qingjian_part";
inline constexpr const char* kRunMetadataKey = "qingjian_run";

}  // namespace qj

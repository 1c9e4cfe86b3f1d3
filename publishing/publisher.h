#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/run_lock.h"
#include "publishing/ledger.h"
#include "publishing/publish_settings.h"
#include "publishing/schedule.h"
#include "publishing/site.h"
#include "text/types.h"

namespace qj::publishing {

// The steps one post goes through, in order.
enum class PublishStep {
    kSending,     // its journal line is on the disk; the request is about to go out
    kCreated,     // the site took it; not yet confirmed, not yet in the ledger
    kConfirming,  // the site is about to be asked for it again
    kRecorded,    // its ledger line is on the disk
};

// What a publication reports. Its calls come from the publication's own threads, several at once.
class PublishObserver {
public:
    virtual ~PublishObserver() = default;
    // One run-log line (GBK).
    virtual void Log(const Text& line) = 0;
    // A post reached a step (for progress; a test may end the program there).
    virtual void Reached(PublishStep /*step*/, const Text& /*file*/, const Text& /*site*/) {}
};

// The files of publishing.
struct PublishFiles {
    Text outputFolder;  // the articles: OpenAi/生成内容
    Text ledger;        // OpenAi/发布记录.txt
    Text journal;       // OpenAi/正在发布.txt
    Text failureList;   // OpenAi/发布失败关键词.txt

    static PublishFiles InProgramFolder(const Text& programFolder);
};

// The wait before try number `attempt` + 1 after a transient failure (attempt 1: the first retry),
// given the header lines of the failed answer (a Retry-After among them).
using RetryDelay = std::function<std::chrono::milliseconds(int attempt, const Text& responseHeaders)>;

struct PublishSummary {
    int published = 0;  // confirmed and recorded in this publication
    int recovered = 0;  // of those, posts an earlier run had made and not recorded
    int failed = 0;     // on the failure list
    int left = 0;       // not done: the publication was stopped
    std::optional<Error> fileError;  // a file of publishing could not be written
};

// Publishes articles of the output folder to the sites of the settings, each site with workers of
// its own, so that a caller handing articles over never waits for a site. A post counts only once
// the site, asked again, shows it as it was sent; only then it goes into the ledger. A post is
// written into the journal before it is sent, so that a post a killed program made is found on the
// site at the next start and recorded rather than sent again.
class Publisher {
public:
    // `observer` and `stop` must outlive the publisher; `stop` turning true stops it soon: exchanges
    // under way are abandoned, and what is not done stays for a later publication.
    Publisher(PublishSettings settings, PublishFiles files, PublishObserver& observer, const std::atomic<bool>& stop,
              RetryDelay retryDelay);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Takes the publishing lock of the ledger's folder (one publication at a time there, across
    // processes: each keeps the ledger in memory and writes it whole), reads the ledger, the journal
    // and the failure list and starts the workers; the reason when another publication holds the
    // lock or a file cannot be read.
    [[nodiscard]] std::optional<Error> Start();

    // Hands over one article (a file name of the output folder) and returns at once. Empty
    // categories and tags mean those of the settings. An article the ledger holds (for the site it
    // would go to, or for every site) is not published again.
    void Publish(const Text& file, const Text& keyword, const TextList& categories = {}, const TextList& tags = {});

    // Hands over every article of the output folder that is not yet published (in name order);
    // returns how many.
    int PublishFolder();

    // Waits until every article handed over is published or failed (or the publication is
    // stopped), ends the workers and logs the outcome.
    PublishSummary Finish();

private:
    struct Job {
        Text file;
        Text keyword;
        TextList categories;
        TextList tags;
        std::size_t site = 0;
        bool pinned = false;    // must go to this site: every site gets it, or the journal ties it here
        bool mayExist = false;  // the journal had its line when the publication began
        int reroutes = 0;
    };
    struct Pending {
        Job job;
        CreatedPost post;
        int tries = 0;
        std::chrono::steady_clock::time_point since;
        std::chrono::steady_clock::time_point notBefore;
    };
    struct SiteSlot {
        std::unique_ptr<Site> site;
        std::deque<Job> queue;
        int posting = 0;
        bool prepared = false;
        bool preparing = false;
        std::optional<Calendar> calendar;
        std::chrono::steady_clock::time_point restUntil{};
        Text restReason;
        std::deque<Pending> pending;
    };

    bool Stopping() const { return stop_.load() || aborted_.load(); }
    bool Resting(const SiteSlot& slot) const;
    std::size_t NextSiteInTurn();
    void Enqueue(Job job);

    void WorkerLoop(std::size_t site);
    void ConfirmLoop(std::size_t site);
    void Work(Job job, HttpInstance& http);
    // The site ready for posts, or why it is not.
    std::optional<SiteFailure> EnsurePrepared(std::size_t site, HttpInstance& http);
    std::optional<PostRequest> MakeRequest(const Job& job);
    // A failure of one try: true to try again (after the wait), false when the job was handed on.
    bool HandleFailure(Job& job, const SiteFailure& failure, int& attempt, bool keepJournal);
    void Rest(std::size_t site, const SiteFailure& failure);
    // Hands the job to the next site in turn; fails it (keeping its journal line with keepJournal)
    // when it must stay or no other site can take it.
    void Reroute(Job job, const Text& reason, bool keepJournal);
    void Fail(const Job& job, const Text& reason, bool keepJournal);
    void Leave(const Job& job);
    // Posts the site shows as sent: into the ledger in one write, then logged.
    struct Shown {
        Job job;
        PostRequest request;
        PostRecord record;
        bool recovered = false;
    };
    void Record(const std::vector<Shown>& posts);
    void FileFailure(const Error& error);
    void Finished();  // one job less outstanding
    bool Wait(std::chrono::milliseconds delay);

    void LoadFailureList();
    void AddToFailureList(const Text& keyword);
    void DropFromFailureList(const Text& keyword);

    const PublishSettings settings_;
    const PublishFiles files_;
    PublishObserver& observer_;
    const std::atomic<bool>& stop_;
    const RetryDelay retryDelay_;
    std::atomic<bool> aborted_{false};

    RunLock lock_;
    Ledger ledger_;
    PublishJournal journal_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<SiteSlot>> slots_;
    std::vector<std::thread> threads_;
    std::size_t turn_ = 0;
    std::set<std::pair<Text, std::size_t>> handed_;  // (file, site) of every job of this publication
    std::set<Text> handedFiles_;
    int outstanding_ = 0;
    bool done_ = false;
    bool started_ = false;
    bool finished_ = false;
    PublishSummary summary_;

    std::mutex failuresMutex_;
    TextList failureLines_;
    std::set<Text> failedNow_;
};

}  // namespace qj::publishing

#include "publishing/publisher.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "http/http_instance.h"
#include "publishing/form_site.h"
#include "publishing/wordpress_site.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Confirmations wait for company: while posts keep coming the site is asked about many at once (one
// request for up to kConfirmBatch posts, or for those of the last kConfirmAfter), and at once when
// no post is under way. Asking costs the site about as much as one post, however many it names.
constexpr std::size_t kConfirmBatch = 100;
constexpr milliseconds kConfirmAfter{10000};
// A site that refuses this program rests this long; one that cannot be reached, the shorter time.
constexpr milliseconds kRefusedRest{10 * 60 * 1000};
constexpr milliseconds kUnreachableRest{60 * 1000};
// A scheduled post is never set sooner than this after now: the site would publish it at once.
constexpr long long kScheduleLeadSeconds = 300;
constexpr int kMinConfirmTries = 3;
// How many journal lines (a post's own and those of the next posts of its site) one write holds.
constexpr std::size_t kJournalAhead = 8;

Text Seconds(milliseconds delay) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", static_cast<double>(delay.count()) / 1000.0);
    Text text = buffer;
    if (text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text + "秒";
}

Text Minutes(milliseconds delay) {
    return std::to_string(std::chrono::duration_cast<std::chrono::minutes>(delay).count()) + "分钟";
}

double Random01() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

bool IsArticleFile(const Text& name) {
    return name.size() > 4 && FindText(name, ".txt", name.size() - 4, true) == name.size() - 4 &&
           !name.starts_with(kPartialFilePrefix);
}

std::unique_ptr<Site> MakeSite(const SiteLine& line, const std::atomic<bool>* stop) {
    if (line.kind == SiteLine::Kind::kForm) {
        return std::make_unique<FormSite>(line.form, stop);
    }
    return std::make_unique<WordPressSite>(line.wordpress, stop);
}

}  // namespace

PublishFiles PublishFiles::InProgramFolder(const Text& programFolder) {
    const Text folder = programFolder + "/OpenAi";
    return {folder + "/生成内容", folder + "/发布记录.txt", folder + "/正在发布.txt", folder + "/发布失败关键词.txt"};
}

Publisher::Publisher(PublishSettings settings, PublishFiles files, PublishObserver& observer,
                     const std::atomic<bool>& stop, RetryDelay retryDelay)
    : settings_(std::move(settings)),
      files_(std::move(files)),
      observer_(observer),
      stop_(stop),
      retryDelay_(std::move(retryDelay)),
      ledger_(files_.ledger),
      journal_(files_.journal) {
    for (const SiteLine& line : settings_.sites) {
        auto slot = std::make_unique<SiteSlot>();
        slot->site = MakeSite(line, &stop_);
        slots_.push_back(std::move(slot));
    }
}

Publisher::~Publisher() {
    if (started_ && !finished_) {
        aborted_ = true;
        (void)Finish();
    }
}

std::optional<Error> Publisher::Start() {
    const Text folder = files_.ledger.substr(0, files_.ledger.rfind('/'));
    if (std::optional<Error> error = ErrorOf(EnsureFolder(folder))) {
        return error;
    }
    if (!lock_.TryLock(folder + "/发布.lock")) {
        return Error{.kind = ErrorKind::kFile, .where = files_.ledger, .reason = "另一个青笺程序正在用这份发布记录发布"};
    }
    if (std::optional<Error> error = ledger_.Load()) {
        return error;
    }
    if (std::optional<Error> error = journal_.Load(ledger_)) {
        return error;
    }
    LoadFailureList();

    Text line = "开始发布：" + std::to_string(slots_.size()) + "个网站，" +
                (settings_.everySite ? "每篇发到每个网站" : "各网站轮流") + "，状态：" + StatusName(settings_.status);
    if (settings_.status == PostStatus::kFuture) {
        char hours[32];
        std::snprintf(hours, sizeof hours, "%02d:%02d-%02d:%02d", settings_.hours.startMinute / 60,
                      settings_.hours.startMinute % 60, settings_.hours.endMinute / 60, settings_.hours.endMinute % 60);
        line += "，每天" + std::to_string(settings_.postsPerDay) + "篇，时段" + hours;
    }
    observer_.Log(line);

    std::lock_guard lock(mutex_);
    started_ = true;
    for (std::size_t s = 0; s < slots_.size(); ++s) {
        for (int k = 0; k < std::max(settings_.workersPerSite, 1); ++k) {
            threads_.emplace_back(&Publisher::WorkerLoop, this, s);
        }
        threads_.emplace_back(&Publisher::ConfirmLoop, this, s);
    }
    return std::nullopt;
}

bool Publisher::Resting(const SiteSlot& slot) const {
    return Clock::now() < slot.restUntil;
}

std::size_t Publisher::NextSiteInTurn() {
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        const std::size_t s = (turn_ + k) % slots_.size();
        if (!Resting(*slots_[s])) {
            turn_ = s + 1;
            return s;
        }
    }
    return turn_++ % slots_.size();
}

void Publisher::Enqueue(Job job) {
    slots_[job.site]->queue.push_back(std::move(job));
    changed_.notify_all();
}

void Publisher::Publish(const Text& file, const Text& keyword, const TextList& categories, const TextList& tags) {
    if (slots_.empty()) {
        return;
    }
    Job job{file, keyword, categories.empty() ? settings_.categories : categories,
            tags.empty() ? settings_.tags : tags, 0, false, false, 0};
    std::lock_guard lock(mutex_);
    const auto hand = [&](Job& one) {
        // An article handed over twice is published once.
        if (handed_.emplace(one.file, one.site).second) {
            handedFiles_.insert(one.file);
            ++outstanding_;
            Enqueue(one);
        }
    };
    if (settings_.everySite) {
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            if (!ledger_.Has(file, slots_[s]->site->Name())) {
                job.site = s;
                job.pinned = true;
                job.mayExist = journal_.Has(file, slots_[s]->site->Name());
                hand(job);
            }
        }
        return;
    }
    if (ledger_.HasFile(file) || handedFiles_.contains(file)) {
        return;
    }
    for (std::size_t s = 0; s < slots_.size(); ++s) {
        if (journal_.Has(file, slots_[s]->site->Name())) {
            job.site = s;
            job.pinned = true;
            job.mayExist = true;
        }
    }
    if (!job.pinned) {
        job.site = NextSiteInTurn();
    }
    hand(job);
}

int Publisher::PublishFolder() {
    Result<std::vector<Text>> listed = ListFolder(files_.outputFolder);
    if (!listed) {
        observer_.Log("错误信息：" + Describe(listed.error()));
        return 0;
    }
    std::vector<Text>& names = *listed;
    std::sort(names.begin(), names.end());
    int handed = 0;
    for (const Text& name : names) {
        if (!IsArticleFile(name)) {
            continue;
        }
        bool published = !settings_.everySite && ledger_.HasFile(name);
        if (settings_.everySite) {
            published = std::all_of(slots_.begin(), slots_.end(),
                                    [&](const auto& slot) { return ledger_.Has(name, slot->site->Name()); });
        }
        if (!published && RegularFileSize(files_.outputFolder + "/" + name).value_or(0) > 0) {
            Publish(name, KeywordOfFile(name));
            ++handed;
        }
    }
    return handed;
}

bool Publisher::Wait(milliseconds delay) {
    const Clock::time_point until = Clock::now() + delay;
    while (Clock::now() < until) {
        if (Stopping()) {
            return false;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(milliseconds(50), until - Clock::now()));
    }
    return !Stopping();
}

void Publisher::WorkerLoop(std::size_t s) {
    HttpInstance http;
    SiteSlot& slot = *slots_[s];
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return Stopping() || done_ || !slot.queue.empty(); });
            if (slot.queue.empty() || Stopping()) {
                return;
            }
            job = std::move(slot.queue.front());
            slot.queue.pop_front();
            ++slot.posting;
        }
        Work(std::move(job), http);
        std::lock_guard lock(mutex_);
        --slot.posting;
        changed_.notify_all();
    }
}

std::optional<SiteFailure> Publisher::EnsurePrepared(std::size_t s, HttpInstance& http) {
    SiteSlot& slot = *slots_[s];
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !slot.preparing || Stopping(); });
        if (slot.prepared) {
            return std::nullopt;
        }
        if (Resting(slot)) {
            return SiteFailure{SiteFailure::Kind::kRefused, "网站正在休息（" + slot.restReason + "）", false, {}};
        }
        slot.preparing = true;
    }
    std::optional<SiteFailure> failure;
    for (int attempt = 0;;) {
        SiteResult<SiteCalendar> calendar = slot.site->Prepare(http, settings_.status == PostStatus::kFuture);
        if (calendar.ok()) {
            long long after = calendar.value().nowSeconds + kScheduleLeadSeconds;
            for (const Text& last : {calendar.value().lastScheduled, ledger_.LatestDate(slot.site->Name())}) {
                after = std::max(after, ParseSiteTime(last).value_or(after));
            }
            std::lock_guard lock(mutex_);
            slot.calendar.emplace(settings_.postsPerDay, settings_.hours, after, Random01);
            slot.prepared = true;
            break;
        }
        failure = calendar.failure();
        if (failure->kind != SiteFailure::Kind::kTransient || attempt >= settings_.retries) {
            break;
        }
        const milliseconds delay = retryDelay_(++attempt, failure->responseHeaders);
        observer_.Log("连接网站 " + slot.site->Name() + " 失败：" + failure->reason + "，" + Seconds(delay) +
                      "后重试（第" + std::to_string(attempt) + "次）");
        if (!Wait(delay)) {
            failure->kind = SiteFailure::Kind::kStopped;
            break;
        }
        failure.reset();
    }
    if (failure && failure->kind != SiteFailure::Kind::kStopped) {
        Rest(s, *failure);
    }
    std::lock_guard lock(mutex_);
    slot.preparing = false;
    changed_.notify_all();
    return slot.prepared ? std::nullopt : failure;
}

void Publisher::Rest(std::size_t s, const SiteFailure& failure) {
    SiteSlot& slot = *slots_[s];
    const milliseconds rest = failure.kind == SiteFailure::Kind::kRefused ? kRefusedRest : kUnreachableRest;
    {
        std::lock_guard lock(mutex_);
        if (Resting(slot)) {
            return;
        }
        slot.restUntil = Clock::now() + rest;
        slot.restReason = failure.reason;
        // The site is asked again, and so its calendar read again, once the rest is over.
        slot.prepared = false;
    }
    observer_.Log("网站 " + slot.site->Name() + " 不能用：" + failure.reason + "；这个网站休息" + Minutes(rest));
}

std::optional<PostRequest> Publisher::MakeRequest(const Job& job) {
    const Result<Bytes> content = ReadFileBytes(files_.outputFolder + "/" + job.file);
    if (!content || content->empty()) {
        Fail(job,
             content ? "文章文件是空的：" + files_.outputFolder + "/" + job.file
                     : "读不出文章文件：" + Describe(content.error()),
             false);
        return std::nullopt;
    }
    return PostRequest{MakeArticle(job.file, job.keyword, *content), settings_.status, {}, job.categories, job.tags};
}

void Publisher::Work(Job job, HttpInstance& http) {
    SiteSlot& slot = *slots_[job.site];
    const Text& name = slot.site->Name();
    if (ledger_.Has(job.file, name)) {
        Finished();
        return;
    }
    if (std::optional<SiteFailure> failure = EnsurePrepared(job.site, http)) {
        if (failure->kind == SiteFailure::Kind::kStopped) {
            Leave(job);
        } else {
            Reroute(std::move(job), failure->reason, job.mayExist);
        }
        return;
    }
    std::optional<PostRequest> request = MakeRequest(job);
    if (!request) {
        return;
    }

    // A journal line from an earlier run: that run may have made the post.
    bool maybeCreated = job.mayExist;
    bool begun = job.mayExist;
    for (int attempt = 0;;) {
        if (Stopping()) {
            Leave(job);
            return;
        }
        if (maybeCreated) {
            SiteResult<std::optional<PostRecord>> found = slot.site->Find(*request, http);
            if (!found.ok()) {
                if (!HandleFailure(job, found.failure(), attempt, true)) {
                    return;
                }
                continue;
            }
            if (found.value()) {
                Record({{job, *request, *found.value(), true}});
                return;
            }
            maybeCreated = false;
        }
        if (request->status == PostStatus::kFuture && request->date.empty()) {
            std::lock_guard lock(mutex_);
            request->date = FormatSiteTime(slot.calendar->Next());
        }
        if (!begun) {
            // The lines of the next posts of the site go to the disk with this one, so that most
            // posts find theirs there and wait for no disk of their own.
            TextList ahead;
            {
                std::lock_guard lock(mutex_);
                for (const Job& next : slot.queue) {
                    if (ahead.size() + 1 >= kJournalAhead) {
                        break;
                    }
                    if (!next.mayExist) {
                        ahead.push_back(next.file);
                    }
                }
            }
            if (std::optional<Error> error = journal_.Begin(job.file, name, ahead)) {
                FileFailure(*error);
                Leave(job);
                return;
            }
            begun = true;
        }
        observer_.Reached(PublishStep::kSending, job.file, name);
        SiteResult<CreatedPost> created = slot.site->Create(*request, http);
        if (created.ok()) {
            observer_.Reached(PublishStep::kCreated, job.file, name);
            std::lock_guard lock(mutex_);
            const Clock::time_point now = Clock::now();
            slot.pending.push_back({std::move(job), std::move(created.value()), 0, now, now});
            changed_.notify_all();
            return;
        }
        maybeCreated = created.failure().maybeCreated;
        if (!HandleFailure(job, created.failure(), attempt, maybeCreated)) {
            return;
        }
    }
}

bool Publisher::HandleFailure(Job& job, const SiteFailure& failure, int& attempt, bool keepJournal) {
    const Text& name = slots_[job.site]->site->Name();
    switch (failure.kind) {
    case SiteFailure::Kind::kStopped:
        Leave(job);
        return false;
    case SiteFailure::Kind::kRefused:
        Rest(job.site, failure);
        Reroute(std::move(job), failure.reason, keepJournal);
        return false;
    case SiteFailure::Kind::kRejected:
        Fail(job, failure.reason, keepJournal);
        return false;
    case SiteFailure::Kind::kTransient:
        break;
    }
    if (attempt >= settings_.retries) {
        Fail(job, failure.reason, keepJournal);
        return false;
    }
    const milliseconds delay = retryDelay_(++attempt, failure.responseHeaders);
    observer_.Log("发布文章【" + job.keyword + "】到 " + name + " 失败：" + failure.reason + "，" + Seconds(delay) +
                  "后重试（第" + std::to_string(attempt) + "次）");
    if (!Wait(delay)) {
        Leave(job);
        return false;
    }
    return true;
}

void Publisher::Reroute(Job job, const Text& reason, bool keepJournal) {
    std::unique_lock lock(mutex_);
    if (!keepJournal && !job.pinned && !Stopping() && job.reroutes + 1 < static_cast<int>(slots_.size())) {
        for (std::size_t k = 1; k < slots_.size(); ++k) {
            const std::size_t s = (job.site + k) % slots_.size();
            if (!Resting(*slots_[s]) && handed_.emplace(job.file, s).second) {
                lock.unlock();
                // The post never went to the site it leaves: its line there goes.
                journal_.End(job.file, slots_[job.site]->site->Name());
                observer_.Log("文章【" + job.keyword + "】改发到 " + slots_[s]->site->Name());
                lock.lock();
                job.site = s;
                ++job.reroutes;
                Enqueue(std::move(job));
                return;
            }
        }
    }
    lock.unlock();
    if (Stopping()) {
        Leave(job);
    } else {
        Fail(job, reason, keepJournal);
    }
}

void Publisher::Fail(const Job& job, const Text& reason, bool keepJournal) {
    const Text& name = slots_[job.site]->site->Name();
    if (!keepJournal) {
        journal_.End(job.file, name);
    }
    observer_.Log("文章【" + job.keyword + "】发布失败（" + name + "）：" + reason);
    AddToFailureList(job.keyword);
    {
        std::lock_guard lock(mutex_);
        ++summary_.failed;
    }
    Finished();
}

void Publisher::Leave(const Job& job) {
    (void)job;
    {
        std::lock_guard lock(mutex_);
        ++summary_.left;
    }
    Finished();
}

void Publisher::Record(const std::vector<Shown>& posts) {
    if (posts.empty()) {
        return;
    }
    std::vector<LedgerEntry> entries;
    for (const Shown& post : posts) {
        entries.push_back({post.job.file, slots_[post.job.site]->site->Name(), post.record.id, post.record.link,
                           post.record.date});
    }
    if (std::optional<Error> error = ledger_.Record(entries)) {
        FileFailure(*error);
        for (const Shown& post : posts) {
            Leave(post.job);
        }
        return;
    }
    for (const Shown& post : posts) {
        const Job& job = post.job;
        const PostRecord& record = post.record;
        const Text& name = slots_[job.site]->site->Name();
        journal_.End(job.file, name);
        observer_.Reached(PublishStep::kRecorded, job.file, name);
        const Text where = name + (record.id != "-" && !record.id.empty() ? "（编号" + record.id + "）" : Text());
        const Text link = record.link.empty() || record.link == "-" ? Text() : "：" + record.link;
        if (post.recovered) {
            observer_.Log("文章【" + job.keyword + "】上次已发到 " + where + "，这次只补记到发布记录，不再重发");
        } else if (post.request.status == PostStatus::kDraft) {
            observer_.Log("文章【" + job.keyword + "】已作为草稿发到 " + where);
        } else if (post.request.status == PostStatus::kFuture) {
            observer_.Log("文章【" + job.keyword + "】已定时发到 " + where + "，发布时间 " + record.date + link);
        } else {
            observer_.Log("文章【" + job.keyword + "】已发布到 " + where + link);
        }
        DropFromFailureList(job.keyword);
        {
            std::lock_guard lock(mutex_);
            ++summary_.published;
            summary_.recovered += post.recovered ? 1 : 0;
        }
        Finished();
    }
}

void Publisher::FileFailure(const Error& error) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        if (!summary_.fileError) {
            summary_.fileError = error;
            first = true;
        }
    }
    aborted_ = true;
    if (first) {
        observer_.Log("错误信息：" + Describe(error) + "；发布到此为止，没做完的文章下次发布");
    }
    changed_.notify_all();
}

void Publisher::Finished() {
    std::lock_guard lock(mutex_);
    --outstanding_;
    changed_.notify_all();
}

void Publisher::ConfirmLoop(std::size_t s) {
    HttpInstance http;
    SiteSlot& slot = *slots_[s];
    std::unique_lock lock(mutex_);
    for (;;) {
        if (Stopping()) {
            return;
        }
        if (slot.pending.empty()) {
            if (done_) {
                return;
            }
            changed_.wait_for(lock, milliseconds(100));
            continue;
        }
        const Clock::time_point now = Clock::now();
        const bool idle = slot.queue.empty() && slot.posting == 0;
        const Clock::time_point due = slot.pending.front().since + kConfirmAfter;
        if (!idle && slot.pending.size() < kConfirmBatch && now < due) {
            changed_.wait_until(lock, std::min(due, now + milliseconds(100)));
            continue;
        }
        std::vector<Pending> batch;
        for (auto it = slot.pending.begin(); it != slot.pending.end() && batch.size() < kConfirmBatch;) {
            if (it->notBefore <= now) {
                batch.push_back(std::move(*it));
                it = slot.pending.erase(it);
            } else {
                ++it;
            }
        }
        if (batch.empty()) {
            changed_.wait_for(lock, milliseconds(50));
            continue;
        }
        lock.unlock();

        std::vector<CreatedPost> posts;
        for (const Pending& item : batch) {
            observer_.Reached(PublishStep::kConfirming, item.job.file, slot.site->Name());
            posts.push_back(item.post);
        }
        std::vector<SiteResult<PostRecord>> results = slot.site->Confirm(posts, http);
        while (results.size() < batch.size()) {
            results.emplace_back(SiteFailure{SiteFailure::Kind::kTransient, "网站没有回答", false, {}});
        }
        std::vector<Pending> again;
        std::vector<Shown> shown;
        for (std::size_t k = 0; k < batch.size(); ++k) {
            Pending& item = batch[k];
            if (results[k].ok()) {
                shown.push_back({item.job, item.post.request, results[k].value(), false});
                continue;
            }
            const SiteFailure& failure = results[k].failure();
            switch (failure.kind) {
            case SiteFailure::Kind::kStopped:
                Leave(item.job);
                break;
            case SiteFailure::Kind::kRefused:
                Rest(s, failure);
                Fail(item.job, failure.reason, true);
                break;
            case SiteFailure::Kind::kRejected:
                Fail(item.job, failure.reason, true);
                break;
            case SiteFailure::Kind::kTransient:
                if (++item.tries >= std::max(settings_.retries + 1, kMinConfirmTries)) {
                    Fail(item.job, "无法确认文章已经发布：" + failure.reason, true);
                } else {
                    item.notBefore = Clock::now() + retryDelay_(item.tries, failure.responseHeaders);
                    again.push_back(std::move(item));
                }
                break;
            }
        }
        Record(shown);
        lock.lock();
        for (Pending& item : again) {
            slot.pending.push_back(std::move(item));
        }
    }
}

PublishSummary Publisher::Finish() {
    std::unique_lock lock(mutex_);
    if (finished_) {
        return summary_;
    }
    while (outstanding_ > 0 && !Stopping()) {
        changed_.wait_for(lock, milliseconds(50));
    }
    done_ = true;
    changed_.notify_all();
    lock.unlock();
    for (std::thread& thread : threads_) {
        thread.join();
    }
    lock.lock();
    finished_ = true;
    // Jobs the workers never took, and confirmations never asked for, stay for a later publication.
    for (const auto& slot : slots_) {
        summary_.left += static_cast<int>(slot->queue.size() + slot->pending.size());
        slot->queue.clear();
        slot->pending.clear();
    }
    PublishSummary summary = summary_;
    lock.unlock();

    if (std::optional<Error> error = journal_.Flush(); error && !summary.fileError) {
        summary.fileError = error;
        observer_.Log("错误信息：" + Describe(*error));
    }
    Text line = "发布结束：成功" + std::to_string(summary.published) + "篇";
    if (summary.recovered > 0) {
        line += "（其中补记" + std::to_string(summary.recovered) + "篇）";
    }
    line += "，失败" + std::to_string(summary.failed) + "篇";
    if (summary.left > 0) {
        line += "，未完成" + std::to_string(summary.left) + "篇（下次发布）";
    }
    observer_.Log(line);
    lock_.Unlock();  // the ledger and the journal are on the disk: another publication may begin
    return summary;
}

void Publisher::LoadFailureList() {
    const Result<Bytes> read = ReadFileOrEmpty(files_.failureList);
    if (!read) {
        return;
    }
    const Bytes& bytes = *read;
    std::lock_guard lock(failuresMutex_);
    failureLines_ = SplitText(ReplaceAll(bytes, "\r\n", "\n"), "\n");
    std::erase(failureLines_, Text());
}

void Publisher::AddToFailureList(const Text& keyword) {
    std::lock_guard lock(failuresMutex_);
    failedNow_.insert(keyword);
    if (std::find(failureLines_.begin(), failureLines_.end(), keyword) != failureLines_.end()) {
        return;
    }
    failureLines_.push_back(keyword);
    if (std::optional<Error> error = ErrorOf(AppendToFile(files_.failureList, keyword + "\r\n"))) {
        observer_.Log("错误信息：" + Describe(*error));
    }
}

void Publisher::DropFromFailureList(const Text& keyword) {
    std::lock_guard lock(failuresMutex_);
    if (failedNow_.contains(keyword) ||
        std::find(failureLines_.begin(), failureLines_.end(), keyword) == failureLines_.end()) {
        return;
    }
    std::erase(failureLines_, keyword);
    Bytes bytes;
    for (const Text& line : failureLines_) {
        bytes += line + "\r\n";
    }
    if (std::optional<Error> error = ErrorOf(WriteFileInOneStep(files_.failureList, bytes))) {
        observer_.Log("错误信息：" + Describe(*error));
    }
}

}  // namespace qj::publishing

#include "generation/keyword_queue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

#include "platform/program_folder.h"

namespace qj {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<void (*)()> g_beforeDiskChange{nullptr};
std::atomic<unsigned long> g_listWrites{0};  // of this process, to name their temporary files

void BeforeDiskChange() {
    if (void (*hook)() = g_beforeDiskChange.load()) {
        hook();
    }
}

// Past this size the journal is rewritten to hold only what is in flight, when the list is written.
constexpr std::size_t kJournalCompactBytes = 64 * 1024;
// Writing the list takes at most a tenth of the time: on a slow disk, or for a huge list, the list
// is written less often than kListWriteInterval.
constexpr int kWriteTimeShare = 10;

Text Below(const Text& folder, const char* tail) {
    return folder + kPathSeparator + tail;
}

FileError ErrorAt(const Text& path, int errorNumber) {
    return {path, SystemReason(errorNumber)};
}

// A whole file and the stamp it had when the read began; a missing file reads as empty, unstamped.
std::optional<FileError> ReadStamped(const Text& path, Bytes& contents, std::optional<KeywordQueue::FileStamp>& stamp) {
    contents.clear();
    stamp.reset();
    OpenFile file;
    if (!file.Open(NativePath(path), OpenFile::Mode::kRead)) {
        return file.Error() == ENOENT ? std::nullopt : std::optional(ErrorAt(path, file.Error()));
    }
    stamp = file.Identity();
    if (stamp) {
        contents.reserve(static_cast<std::size_t>(stamp->size));
    }
    if (!file.ReadToEnd(contents)) {
        return ErrorAt(path, file.Error());
    }
    return std::nullopt;
}

// The file a path finally names: a symbolic link is written through, not over.
fs::path ResolvedTarget(const Text& path) {
    fs::path target = NativePath(path);
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        fs::path resolved = fs::weakly_canonical(target, error);
        if (!error) {
            return resolved;
        }
    }
    return target;
}

// Where a new version of the list is written before it replaces the list.
fs::path TemporaryPath(const fs::path& list, std::string_view id) {
    fs::path name = ".";
    name += list.filename();
    name += "." + std::string(id) + ".tmp";
    return list.parent_path() / name;
}

struct JournalRecord {
    char kind;  // '+', '-', '<', '#', '=' or '!'
    Bytes line;
};

struct Journal {
    std::vector<JournalRecord> records;
    std::size_t wholeBytes = 0;  // up to the end of the last whole record
    bool legacy = false;         // written before the list was kept in memory: the file shows it all
};

Journal ParseJournal(const Bytes& bytes) {
    Journal journal;
    bool marked = false;
    for (std::size_t pos = 0;;) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == Bytes::npos) {
            break;  // a record cut short: what it says never happened
        }
        const std::string_view line = std::string_view(bytes).substr(pos, end - pos);
        pos = journal.wholeBytes = end + 2;
        if (line.empty()) {
            continue;
        }
        const char kind = line[0];
        if (kind == '+' || kind == '-' || kind == '<' || kind == '#' || kind == '=' || kind == '!') {
            journal.records.push_back({kind, Bytes(line.substr(1))});
            marked = marked || kind == '#' || kind == '=';
        } else {
            journal.records.push_back({'+', Bytes(line)});  // a bare keyword: taken
        }
    }
    journal.legacy = !marked;
    return journal;
}

void EraseFirst(std::vector<Bytes>& lines, const Bytes& line) {
    auto it = std::find(lines.begin(), lines.end(), line);
    if (it != lines.end()) {
        lines.erase(it);
    }
}

std::vector<Bytes> Unsettled(const Journal& journal) {
    std::vector<Bytes> unsettled;
    for (const JournalRecord& r : journal.records) {
        if (r.kind == '+' && !r.line.empty()) {
            unsettled.push_back(r.line);
        } else if (r.kind == '-' || r.kind == '<') {
            EraseFirst(unsettled, r.line);
        }
    }
    return unsettled;
}

}  // namespace

JobPaths JobPathsIn(const Text& programFolder) {
    JobPaths p;
    p.keywordList = Below(programFolder, kKeywordListTail);
    p.journal = Below(programFolder, kJournalTail);
    p.outputFolder = Below(programFolder, kOutputFolderTail);
    p.failureList = Below(programFolder, kFailureListTail);
    p.runLock = Below(programFolder, kRunLockTail);
    return p;
}

TextList UnsettledKeywords(const Bytes& journal) {
    const std::vector<Bytes> lines = Unsettled(ParseJournal(journal));
    return TextList(lines.begin(), lines.end());
}

void KeywordQueue::SetBeforeDiskChange(void (*hook)()) {
    g_beforeDiskChange.store(hook);
}

KeywordQueue::KeywordQueue(JobPaths paths, std::chrono::milliseconds writeInterval)
    : paths_(std::move(paths)), writeInterval_(writeInterval), lastWrite_(Clock::now()) {}

KeywordQueue::~KeywordQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
    UnlockRun();
    CloseJournal();
}

bool KeywordQueue::TryLockRun() {
    std::lock_guard lock(mutex_);
    if (!runActive_) {
        if (!runLock_.TryLock(paths_.runLock)) {
            return false;
        }
        runActive_ = true;
    }
    ended_ = false;
    // A new run reads the list and the journal afresh: either may have changed since.
    if (loaded_ && !dirty_ && inFlight_.empty()) {
        Unload();
    }
    return true;
}

void KeywordQueue::UnlockRun() {
    std::lock_guard lock(mutex_);
    if (!runActive_) {
        return;
    }
    // Should the list not be writable now, the journal keeps what it lacks for the next Recover.
    static_cast<void>(FlushLocked());
    runLock_.Unlock();
    runActive_ = false;
}

void KeywordQueue::CloseJournal() {
    journal_.Close();
}

void KeywordQueue::Unload() {
    loaded_ = false;
    CloseJournal();
    base_.clear();
    front_.clear();
    inFlight_.clear();
    dirty_ = false;
}

void KeywordQueue::Adopt(Bytes contents, std::optional<FileStamp> stamp, bool detect) {
    base_ = std::move(contents);
    stamp_ = stamp;
    if (detect) {
        format_ = DetectListFormat(base_);
    }
    taken_ = format_.bomLength;
    front_.clear();
    dirty_ = false;
    CountKeywords();
}

void KeywordQueue::CountKeywords() {
    baseKeywords_ = 0;
    for (std::size_t pos = taken_; pos < base_.size();) {
        const FirstLine next = ReadFirstLine(std::string_view(base_).substr(pos), format_.utf8);
        if (next.line.empty()) {
            break;
        }
        ++baseKeywords_;
        pos += next.line.size() + next.terminatorLength;
    }
}

void KeywordQueue::MarkDirty() {
    if (dirty_) {
        return;
    }
    dirty_ = true;
    if (!writer_.joinable() && !stopping_) {
        writer_ = std::thread([this] { WriteInBackground(); });
    }
    wake_.notify_one();
}

void KeywordQueue::WriteInBackground() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!dirty_) {
            wake_.wait(lock);
            continue;
        }
        const Clock::time_point due =
            lastWrite_ + std::max<Clock::duration>(writeInterval_, lastWriteTook_ * kWriteTimeShare);
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        if (FlushLocked()) {
            lastWrite_ = Clock::now();  // tried again after the interval
        }
    }
}

std::optional<FileError> KeywordQueue::AppendJournal(const Bytes& records) {
    if (!journal_.IsOpen()) {
        BeforeDiskChange();
        if (!journal_.Open(NativePath(paths_.journal), OpenFile::Mode::kAppend)) {
            return ErrorAt(paths_.journal, journal_.Error());
        }
        const std::optional<FileIdentity> identity = journal_.Identity();
        journalSuspect_ = !identity || identity->size != journalBytes_;
    }
    if (journalSuspect_) {
        // A record cut short would run into the next one.
        BeforeDiskChange();
        if (!journal_.Truncate(journalBytes_)) {
            return ErrorAt(paths_.journal, journal_.Error());
        }
        journalSuspect_ = false;
    }
    // An empty journal starts with "#": the list file shows everything up to here.
    const Bytes data = journalBytes_ == 0 ? "#\r\n" + records : records;
    BeforeDiskChange();
    // One write, so that a kill leaves at most the last record cut short.
    if (!journal_.WriteAll(data)) {
        const int error = journal_.Error();
        journalSuspect_ = !journal_.Truncate(journalBytes_);
        return ErrorAt(paths_.journal, error);
    }
    journalBytes_ += data.size();
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::TruncateJournal() {
    if (journalBytes_ == 0 && !journalSuspect_) {
        return std::nullopt;
    }
    if (!journal_.IsOpen() && !journal_.Open(NativePath(paths_.journal), OpenFile::Mode::kAppendExisting)) {
        return ErrorAt(paths_.journal, journal_.Error());
    }
    BeforeDiskChange();
    if (!journal_.Truncate(0)) {
        return ErrorAt(paths_.journal, journal_.Error());
    }
    journalBytes_ = 0;
    journalSuspect_ = false;
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::Compact() {
    if (dirty_) {
        return std::nullopt;  // the journal still says what the file lacks
    }
    if (inFlight_.empty()) {
        return TruncateJournal();
    }
    if (journalBytes_ <= kJournalCompactBytes) {
        return std::nullopt;
    }
    Bytes kept;
    for (const InFlight& k : inFlight_) {
        kept += "+" + k.line + "\r\n";
    }
    kept += "#\r\n";
    CloseJournal();
    BeforeDiskChange();
    if (std::optional<FileError> e = ReplaceFileContents(paths_.journal, kept, 0644, false)) {
        journalSuspect_ = true;  // reopened and checked before the next record
        return e;
    }
    journalBytes_ = kept.size();
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::EnsureLoaded(int* recovered) {
    if (loaded_) {
        return std::nullopt;
    }
    Bytes journalBytes;
    if (std::optional<FileError> e = ReadFileOrEmpty(paths_.journal, journalBytes)) {
        return e;
    }
    Bytes list;
    std::optional<FileStamp> stamp;
    if (std::optional<FileError> e = ReadStamped(paths_.keywordList, list, stamp)) {
        return e;
    }
    CloseJournal();
    inFlight_.clear();
    ended_ = false;
    Adopt(std::move(list), stamp, true);
    journalBytes_ = 0;
    journalSuspect_ = !journalBytes.empty();
    if (journalBytes.empty()) {
        loaded_ = true;
        return std::nullopt;
    }

    // The run that wrote the journal ended without settling. The list file shows everything up to
    // the last checkpoint: a "#", or an "=" whose file is gone because it replaced the list.
    const Journal journal = ParseJournal(journalBytes);
    const fs::path target = ResolvedTarget(paths_.keywordList);
    std::ptrdiff_t checkpoint = journal.legacy ? static_cast<std::ptrdiff_t>(journal.records.size()) - 1 : -1;
    for (std::size_t i = 0; i < journal.records.size(); ++i) {
        const JournalRecord& r = journal.records[i];
        const bool abandoned = i + 1 < journal.records.size() && journal.records[i + 1].kind == '!';
        if (r.kind == '#' ||
            (r.kind == '=' && !abandoned && PathExists(TemporaryPath(target, r.line)) == std::optional(false))) {
            checkpoint = static_cast<std::ptrdiff_t>(i);
        }
    }
    // What came after it is done again on the file: the same steps, in the same order.
    std::vector<Bytes> unsettled;
    std::deque<Bytes> front;
    std::size_t cursor = taken_;
    for (std::size_t i = 0; i < journal.records.size(); ++i) {
        const JournalRecord& r = journal.records[i];
        const bool replayed = static_cast<std::ptrdiff_t>(i) > checkpoint;
        if (r.kind == '+') {
            if (replayed) {
                if (!front.empty() && front.front() == r.line) {
                    front.pop_front();
                } else if (cursor < base_.size()) {
                    const FirstLine first = ReadFirstLine(std::string_view(base_).substr(cursor), format_.utf8);
                    if (first.line == r.line) {
                        cursor += first.line.size() + first.terminatorLength;
                    }
                }
            }
            if (!r.line.empty()) {
                unsettled.push_back(r.line);
            }
        } else if (r.kind == '-' || r.kind == '<') {
            EraseFirst(unsettled, r.line);
            if (r.kind == '<' && replayed) {
                front.push_front(r.line);
            }
        }
    }
    // The keywords in flight go back to the front, recorded first so that a kill from here on
    // finds them settled and in the list once.
    journalBytes_ = journal.wholeBytes;
    Bytes records = journal.legacy ? "#\r\n" : "";
    for (auto it = unsettled.rbegin(); it != unsettled.rend(); ++it) {
        records += "<" + *it + "\r\n";
    }
    if (!records.empty()) {
        if (std::optional<FileError> e = AppendJournal(records)) {
            CloseJournal();
            return e;
        }
    }
    taken_ = cursor;
    // Returned keywords the file did not show yet go back too, and count as such.
    const std::size_t returned = front.size();
    front_ = std::move(front);
    front_.insert(front_.begin(), unsettled.begin(), unsettled.end());
    CountKeywords();
    loaded_ = true;
    if (recovered) {
        *recovered = static_cast<int>(unsettled.size() + returned);
    }
    dirty_ = false;
    if (taken_ != format_.bomLength || !front_.empty()) {
        MarkDirty();
    }
    if (std::optional<FileError> e = FlushLocked()) {
        return e;
    }
    if (journalBytes_ == 0) {
        // No record names a temporary file any more: those left by a kill can go.
        std::error_code error;
        const fs::path::string_type prefix = TemporaryPath(target, "").filename().native();
        const fs::path::string_type suffix = fs::path(".tmp").native();
        const fs::path::string_type stem = prefix.substr(0, prefix.size() - suffix.size());
        for (const fs::directory_entry& entry : fs::directory_iterator(target.parent_path(), error)) {
            const fs::path::string_type name = entry.path().filename().native();
            if (name.starts_with(stem) && name.ends_with(suffix)) {
                fs::remove(entry.path(), error);
            }
        }
    }
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::Refresh(bool* changed) {
    const std::optional<FileStamp> now = IdentityOfFile(NativePath(paths_.keywordList));
    if (now == stamp_) {
        return std::nullopt;
    }
    Bytes fresh;
    std::optional<FileStamp> stamp;
    if (std::optional<FileError> e = ReadStamped(paths_.keywordList, fresh, stamp)) {
        return e;
    }
    // Changed by someone else: it is the list now, less the lines taken since this queue last wrote
    // it where it still has them, in the same order and at the front (lines appended to it come
    // behind everything else).
    std::vector<Bytes> takenLines;
    for (std::size_t pos = format_.bomLength; pos < taken_;) {
        const FirstLine line = ReadFirstLine(std::string_view(base_).substr(pos), format_.utf8);
        takenLines.push_back(line.line);
        pos += line.line.size() + line.terminatorLength;
    }
    const std::deque<Bytes> front = std::move(front_);
    Adopt(std::move(fresh), stamp, true);
    for (const Bytes& line : takenLines) {
        if (taken_ < base_.size()) {
            const FirstLine first = ReadFirstLine(std::string_view(base_).substr(taken_), format_.utf8);
            if (first.line == line) {
                taken_ += first.line.size() + first.terminatorLength;
            }
        }
    }
    front_ = front;
    if (taken_ != format_.bomLength || !front_.empty()) {
        MarkDirty();
    }
    CountKeywords();
    if (changed) {
        *changed = true;
    }
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::FlushLocked() {
    writeError_ = WriteList();
    return writeError_;
}

std::optional<FileError> KeywordQueue::WriteList() {
    if (!loaded_) {
        return std::nullopt;
    }
    if (std::optional<FileError> e = Refresh()) {
        return e;
    }
    if (!dirty_) {
        return Compact();
    }
    const Clock::time_point started = Clock::now();
    const fs::path target = ResolvedTarget(paths_.keywordList);

    Bytes contents;
    contents.reserve(base_.size() + front_.size() * 32);
    contents.append(base_, 0, format_.bomLength);
    const std::string_view lineEnd = LineEndOf(std::string_view(base_).substr(format_.bomLength));
    for (const Bytes& line : front_) {
        contents += line;
        contents += lineEnd;
    }
    contents.append(base_, taken_);

    BeforeDiskChange();
    // A name no file has: one left by a killed process of the same number is passed over.
    std::string id;
    fs::path temporary;
    OpenFile file;
    do {
        id = std::to_string(ProcessNumber()) + "-" + std::to_string(++g_listWrites);
        temporary = TemporaryPath(target, id);
    } while (!file.Open(temporary, OpenFile::Mode::kCreateNew, 0600) && file.Error() == EEXIST);
    if (!file.IsOpen()) {
        return ErrorAt(paths_.keywordList, file.Error());
    }
    if (!file.CopyModeOf(target, 0644) || !file.WriteAll(contents)) {
        const int error = file.Error();
        file.Close();
        RemoveFile(temporary);
        return ErrorAt(paths_.keywordList, error);
    }
    // Recorded before the file replaces the list: a kill on either side of the rename then finds
    // out which list the file is by whether the temporary file is still there.
    if (std::optional<FileError> e = AppendJournal("=" + id + "\r\n")) {
        file.Close();
        RemoveFile(temporary);
        return e;
    }
    OpenFile old;
    static_cast<void>(old.Open(target, OpenFile::Mode::kRead));
    // Lines appended to the old file while it was being replaced go behind the new one. Where an
    // open file cannot be replaced (Windows), they are read just before the replacement instead.
    Bytes late;
    const auto readLateLines = [&] {
        if (old.IsOpen()) {
            const std::optional<FileIdentity> was = old.Identity();
            if (stamp_ && was && was->inode == stamp_->inode && was->size > base_.size()) {
                late.assign(static_cast<std::size_t>(was->size) - base_.size(), '\0');
                if (!old.ReadAt(base_.size(), late)) {
                    late.clear();
                }
            }
            old.Close();
        }
    };
    if (!kRenameOverOpenFile) {
        readLateLines();
    }
    BeforeDiskChange();
    if (const int error = RenameOver(temporary, target); error != 0) {
        old.Close();
        file.Close();
        // While the journal names it as about to replace the list, the file must stay.
        if (!AppendJournal("!\r\n")) {
            RemoveFile(temporary);
        }
        return ErrorAt(paths_.keywordList, error);
    }
    readLateLines();
    if (!late.empty() && file.WriteAll(late)) {
        contents += late;
    }
    const std::optional<FileStamp> stamp = file.Identity();
    file.Close();
    // A line that starts with the byte-order mark's bytes (files joined into one list) may now
    // stand first: every reader takes them as the mark from here on, and so must this queue, or the
    // journal it keeps and the file the next run recovers would cut the lines differently.
    const bool newMark = format_.bomLength == 0 && DetectListFormat(contents).bomLength != 0;
    Adopt(std::move(contents), stamp, newMark);
    lastWrite_ = Clock::now();
    lastWriteTook_ = lastWrite_ - started;
    return Compact();
}

int KeywordQueue::Recover(std::optional<FileError>* error) {
    std::lock_guard lock(mutex_);
    if (loaded_ && !dirty_ && inFlight_.empty()) {
        Unload();
    }
    int recovered = 0;
    const std::optional<FileError> e = EnsureLoaded(&recovered);
    if (error) {
        *error = e;
    }
    return e ? 0 : recovered;
}

KeywordQueue::Taken KeywordQueue::TakeNextKeyword() {
    std::lock_guard lock(mutex_);
    Taken taken;
    auto fail = [&taken](FileError e) {
        taken.kind = Taken::Kind::kError;
        taken.error = std::move(e);
        return taken;
    };
    if (std::optional<FileError> e = EnsureLoaded(); e && !loaded_) {
        return fail(*e);
    }
    if (ended_) {
        return taken;
    }
    if (writeError_) {
        // The list could not be written lately: no keyword leaves it while that lasts.
        if (std::optional<FileError> e = FlushLocked()) {
            return fail(*e);
        }
    }
    bool changed = false;
    if (std::optional<FileError> e = Refresh(&changed)) {
        return fail(*e);
    }
    if (changed && dirty_) {
        // A new checkpoint for the list as someone else wrote it; when it fails, the writer tries again.
        static_cast<void>(FlushLocked());
    }
    const bool fromFront = !front_.empty();
    Bytes line;
    std::size_t length = 0;
    if (fromFront) {
        line = front_.front();
    } else {
        if (taken_ >= base_.size()) {
            return taken;
        }
        FirstLine first = ReadFirstLine(std::string_view(base_).substr(taken_), format_.utf8);
        length = first.line.size() + first.terminatorLength;
        line = std::move(first.line);
    }
    if (std::optional<FileError> e = AppendJournal("+" + line + "\r\n")) {
        return fail(*e);
    }
    if (fromFront) {
        front_.pop_front();
    } else {
        taken_ += length;
    }
    MarkDirty();
    if (line.empty()) {
        ended_ = true;  // an empty line ends the run
        CountKeywords();
        return taken;
    }
    if (!fromFront) {
        --baseKeywords_;
    }
    taken.kind = Taken::Kind::kKeyword;
    taken.keyword = KeywordFromLine(line, format_.utf8, &taken.lossy);
    inFlight_.push_back({taken.keyword, std::move(line)});
    return taken;
}

int KeywordQueue::RemainingCount() {
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        // Only reads: the journal may belong to a run of another process.
        Bytes list;
        if (ReadFileOrEmpty(paths_.keywordList, list)) {
            return 0;  // an unreadable list shows as empty; the next take reports why
        }
        const ListFormat format = DetectListFormat(list);
        int count = 0;
        for (std::size_t pos = format.bomLength; pos < list.size(); ++count) {
            const FirstLine next = ReadFirstLine(std::string_view(list).substr(pos), format.utf8);
            if (next.line.empty()) {
                break;
            }
            pos += next.line.size() + next.terminatorLength;
        }
        return count;
    }
    static_cast<void>(Refresh());  // unreadable now: the figure as last known
    return static_cast<int>(front_.size() + inFlight_.size()) + baseKeywords_;
}

std::optional<FileError> KeywordQueue::Finish(const Text& keyword) {
    std::lock_guard lock(mutex_);
    if (std::optional<FileError> e = EnsureLoaded(); e && !loaded_) {
        return e;
    }
    auto it = std::find_if(inFlight_.begin(), inFlight_.end(), [&](const InFlight& k) { return k.keyword == keyword; });
    const Bytes line = it != inFlight_.end() ? it->line : LineFromKeyword(keyword, format_.utf8);
    if (std::optional<FileError> e = AppendJournal("-" + line + "\r\n")) {
        return e;
    }
    if (it != inFlight_.end()) {
        inFlight_.erase(it);
    }
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::Return(const Text& keyword) {
    std::lock_guard lock(mutex_);
    if (keyword.empty()) {
        return std::nullopt;
    }
    if (std::optional<FileError> e = EnsureLoaded(); e && !loaded_) {
        return e;
    }
    auto it = std::find_if(inFlight_.begin(), inFlight_.end(), [&](const InFlight& k) { return k.keyword == keyword; });
    Bytes line = it != inFlight_.end() ? it->line : LineFromKeyword(keyword, format_.utf8);
    if (std::optional<FileError> e = AppendJournal("<" + line + "\r\n")) {
        return e;
    }
    if (it != inFlight_.end()) {
        inFlight_.erase(it);
    }
    front_.push_front(std::move(line));
    MarkDirty();
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::Flush() {
    std::lock_guard lock(mutex_);
    return FlushLocked();
}

}  // namespace qj

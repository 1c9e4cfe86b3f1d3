#include "run/keyword_queue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/program_folder.h"
#include "text/ascii.h"

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
    std::optional<ListEncoding> encoding;  // of the list, as its first "#" names it
};

// The lines of a UTF-16 list hold bytes that would end a record: they are written as hexadecimal.
Bytes Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    Bytes hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        hex.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(kDigits[static_cast<unsigned char>(c) & 0x0F]);
    }
    return hex;
}

Bytes FromHex(std::string_view hex) {
    Bytes bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = HexDigitValue(static_cast<unsigned char>(hex[i]));
        const int low = HexDigitValue(static_cast<unsigned char>(hex[i + 1]));
        bytes.push_back(static_cast<char>((high < 0 ? 0 : high) << 4 | (low < 0 ? 0 : low)));
    }
    return bytes;
}

bool IsLineRecord(char kind) {
    return kind == '+' || kind == '-' || kind == '<';
}

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
        if (IsLineRecord(kind) || kind == '#' || kind == '=' || kind == '!') {
            const std::string_view payload = line.substr(1);
            const bool hex = IsLineRecord(kind) && journal.encoding && IsUtf16(*journal.encoding);
            journal.records.push_back({kind, hex ? FromHex(payload) : Bytes(payload)});
            marked = marked || kind == '#' || kind == '=';
            if (kind == '#' && !journal.encoding) {
                journal.encoding = EncodingNamed(payload);
            }
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

// The keywords a run takes from `rest` on: its lines up to the first that ends the run.
int KeywordsUpToEnd(std::string_view rest, ListEncoding encoding) {
    int count = 0;
    while (!rest.empty()) {
        const FirstLine next = ReadFirstLine(rest, encoding);
        if (IsBlankLine(next.line, encoding) || OtherEncodingMark(next.line, encoding)) {
            break;
        }
        ++count;
        rest.remove_prefix(next.line.size() + next.terminatorLength);
    }
    return count;
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
    p.runLogFolder = Below(programFolder, kRunLogFolderTail);
    return p;
}

std::vector<Bytes> UnsettledKeywords(const Bytes& journal) {
    return Unsettled(ParseJournal(journal));
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

void KeywordQueue::Adopt(Bytes contents, std::optional<FileStamp> stamp, std::optional<ListEncoding> encoding) {
    base_ = std::move(contents);
    stamp_ = stamp;
    // A mark of the list's own encoding that has come to stand first (the lines of a file joined in
    // front of it were taken) is the list's mark from now on, as for every reader of the file.
    format_ = encoding ? FormatIn(base_, *encoding) : DetectListFormat(base_);
    taken_ = format_.bomLength;
    front_.clear();
    dirty_ = false;
    CountKeywords();
}

Bytes KeywordQueue::Record(char kind, std::string_view line) const {
    Bytes record(1, kind);
    record += IsUtf16(format_.encoding) ? Hex(line) : Bytes(line);
    record += "\r\n";
    return record;
}

void KeywordQueue::CountKeywords() {
    baseKeywords_ = KeywordsUpToEnd(std::string_view(base_).substr(taken_), format_.encoding);
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
        if (!FlushLocked()) {
            lastWrite_ = Clock::now();  // tried again after the interval
        }
    }
}

Result<void> KeywordQueue::AppendJournal(const Bytes& records) {
    if (!journal_.IsOpen()) {
        BeforeDiskChange();
        if (!journal_.Open(NativePath(paths_.journal), OpenFile::Mode::kAppend)) {
            return FileFailure(paths_.journal, journal_.Error());
        }
        const std::optional<FileIdentity> identity = journal_.Identity();
        journalSuspect_ = !identity || identity->size != journalBytes_;
    }
    if (journalSuspect_) {
        // A record cut short would run into the next one.
        BeforeDiskChange();
        if (!journal_.Truncate(journalBytes_)) {
            return FileFailure(paths_.journal, journal_.Error());
        }
        journalSuspect_ = false;
    }
    // An empty journal starts with "#": the list file shows everything up to here. It names the
    // encoding the lines are in, which the recovery after a kill reads the list in.
    const Bytes data = journalBytes_ == 0 ? Bytes("#") + EncodingName(format_.encoding) + "\r\n" + records : records;
    BeforeDiskChange();
    // One write, so that a kill leaves at most the last record cut short.
    if (!journal_.WriteAll(data)) {
        const int error = journal_.Error();
        journalSuspect_ = !journal_.Truncate(journalBytes_);
        return FileFailure(paths_.journal, error);
    }
    journalBytes_ += data.size();
    return Success();
}

Result<void> KeywordQueue::TruncateJournal() {
    if (journalBytes_ == 0 && !journalSuspect_) {
        return Success();
    }
    if (!journal_.IsOpen() && !journal_.Open(NativePath(paths_.journal), OpenFile::Mode::kAppendExisting)) {
        return FileFailure(paths_.journal, journal_.Error());
    }
    BeforeDiskChange();
    if (!journal_.Truncate(0)) {
        return FileFailure(paths_.journal, journal_.Error());
    }
    journalBytes_ = 0;
    journalSuspect_ = false;
    return Success();
}

Result<void> KeywordQueue::Compact() {
    if (dirty_) {
        return Success();  // the journal still says what the file lacks
    }
    if (inFlight_.empty()) {
        return TruncateJournal();
    }
    if (journalBytes_ <= kJournalCompactBytes) {
        return Success();
    }
    const Bytes checkpoint = Bytes("#") + EncodingName(format_.encoding) + "\r\n";
    Bytes kept = checkpoint;
    for (const InFlight& k : inFlight_) {
        kept += Record('+', k.line);
    }
    kept += checkpoint;
    CloseJournal();
    BeforeDiskChange();
    if (Result<void> e = ReplaceFileContents(paths_.journal, kept, 0644, false); !e) {
        journalSuspect_ = true;  // reopened and checked before the next record
        return e;
    }
    journalBytes_ = kept.size();
    return Success();
}

Result<void> KeywordQueue::EnsureLoaded(int* recovered) {
    if (loaded_) {
        return Success();
    }
    Result<Bytes> journalRead = ReadFileOrEmpty(paths_.journal);
    if (!journalRead) {
        return journalRead.error();
    }
    const Bytes journalBytes = std::move(*journalRead);
    Result<ListFile> listRead = ReadListFile(paths_.keywordList);
    if (!listRead) {
        return listRead.error();
    }
    Bytes list = std::move(listRead->contents);
    const std::optional<FileStamp> stamp = listRead->stamp;
    CloseJournal();
    inFlight_.clear();
    ended_ = false;
    // A journal that holds something is what a run left that ended without settling: the list is
    // read in the encoding that run read it in. Otherwise the bytes decide, now, for this run.
    const Journal journal = ParseJournal(journalBytes);
    Adopt(std::move(list), stamp, journal.encoding);
    journalBytes_ = 0;
    journalSuspect_ = !journalBytes.empty();
    if (journalBytes.empty()) {
        loaded_ = true;
        return Success();
    }

    // The list file shows everything up to the last checkpoint: a "#", or an "=" whose file is
    // gone because it replaced the list.
    const fs::path target = ResolvedTarget(NativePath(paths_.keywordList));
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
                    const FirstLine first = ReadFirstLine(std::string_view(base_).substr(cursor), format_.encoding);
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
    Bytes records = journal.legacy ? Bytes("#") + EncodingName(format_.encoding) + "\r\n" : "";
    for (auto it = unsettled.rbegin(); it != unsettled.rend(); ++it) {
        records += Record('<', *it);
    }
    if (!records.empty()) {
        if (Result<void> e = AppendJournal(records); !e) {
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
    if (Result<void> e = FlushLocked(); !e) {
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
    return Success();
}

Result<void> KeywordQueue::Refresh(bool* changed) {
    const std::optional<FileStamp> now = IdentityOfFile(NativePath(paths_.keywordList));
    if (now == stamp_) {
        return Success();
    }
    Result<ListFile> read = ReadListFile(paths_.keywordList);
    if (!read) {
        return read.error();
    }
    Bytes fresh = std::move(read->contents);
    const std::optional<FileStamp> stamp = read->stamp;
    // Changed by someone else: it is the list now, less the lines taken since this queue last wrote
    // it where it still has them, in the same order and at the front (lines appended to it come
    // behind everything else).
    std::vector<Bytes> takenLines;
    for (std::size_t pos = format_.bomLength; pos < taken_;) {
        const FirstLine line = ReadFirstLine(std::string_view(base_).substr(pos), format_.encoding);
        takenLines.push_back(line.line);
        pos += line.line.size() + line.terminatorLength;
    }
    const std::deque<Bytes> front = std::move(front_);
    Adopt(std::move(fresh), stamp, format_.encoding);
    for (const Bytes& line : takenLines) {
        if (taken_ < base_.size()) {
            const FirstLine first = ReadFirstLine(std::string_view(base_).substr(taken_), format_.encoding);
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
    return Success();
}

Result<void> KeywordQueue::FlushLocked() {
    Result<void> written = WriteList();
    writeFailed_ = !written;
    return written;
}

Result<void> KeywordQueue::WriteList() {
    if (!loaded_) {
        return Success();
    }
    if (Result<void> e = Refresh(); !e) {
        return e;
    }
    if (!dirty_) {
        return Compact();
    }
    const Clock::time_point started = Clock::now();
    const fs::path target = ResolvedTarget(NativePath(paths_.keywordList));

    Bytes contents;
    contents.reserve(base_.size() + front_.size() * 32);
    contents.append(base_, 0, format_.bomLength);
    const Bytes lineEnd = LineEndOf(std::string_view(base_).substr(format_.bomLength), format_.encoding);
    for (const Bytes& line : front_) {
        contents += InWholeUnits(line, format_.encoding);
        contents += lineEnd;
    }
    contents.append(base_, taken_);

    BeforeDiskChange();
    // A name no file has: one left by a killed process of the same number is passed over.
    std::string id;
    AtomicFileWriter writer;
    AtomicFileWriter::Options options{.newFileMode = 0644, .keepOpen = true};
    options.temporaryName = [&](int) {
        id = std::to_string(ProcessNumber()) + "-" + std::to_string(++g_listWrites);
        return TemporaryPath(target, id).filename().native();
    };
    if (Result<void> e = writer.Begin(paths_.keywordList, options); !e) {
        return e;
    }
    if (Result<void> e = writer.Write(contents); !e) {
        return e;
    }
    // Recorded before the file replaces the list: a kill on either side of the rename then finds
    // out which list the file is by whether the temporary file is still there.
    if (Result<void> e = AppendJournal("=" + id + "\r\n"); !e) {
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
    if (Result<void> e = writer.Commit(); !e) {
        old.Close();
        // While the journal names it as about to replace the list, the file must stay.
        if (AppendJournal("!\r\n")) {
            writer.Abandon();
        } else {
            writer.Leave();
        }
        return e;
    }
    readLateLines();
    if (!late.empty() && writer.Write(late)) {
        contents += late;
    }
    OpenFile& file = writer.File();
    const std::optional<FileStamp> stamp = file.Identity();
    file.Close();
    Adopt(std::move(contents), stamp, format_.encoding);
    lastWrite_ = Clock::now();
    lastWriteTook_ = lastWrite_ - started;
    return Compact();
}

Result<int> KeywordQueue::Recover() {
    std::lock_guard lock(mutex_);
    if (loaded_ && !dirty_ && inFlight_.empty()) {
        Unload();
    }
    int recovered = 0;
    if (Result<void> e = EnsureLoaded(&recovered); !e) {
        return e.error();
    }
    return recovered;
}

Result<KeywordQueue::Taken> KeywordQueue::TakeNextKeyword() {
    std::lock_guard lock(mutex_);
    Taken taken;
    if (Result<void> e = EnsureLoaded(); !e && !loaded_) {
        return e.error();
    }
    if (ended_) {
        return taken;
    }
    if (writeFailed_) {
        // The list could not be written lately: no keyword leaves it while that lasts.
        if (Result<void> e = FlushLocked(); !e) {
            return e.error();
        }
    }
    bool changed = false;
    if (Result<void> e = Refresh(&changed); !e) {
        return e.error();
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
        FirstLine first = ReadFirstLine(std::string_view(base_).substr(taken_), format_.encoding);
        length = first.line.size() + first.terminatorLength;
        line = std::move(first.line);
    }
    // A line that ends the run stays in the list, for the user to see where the run stopped.
    const std::optional<ListEncoding> other = OtherEncodingMark(line, format_.encoding);
    if (other || IsBlankLine(line, format_.encoding)) {
        ended_ = true;
        taken.halt = other ? Taken::Halt::kOtherEncoding : Taken::Halt::kEmptyLine;
        taken.other = other.value_or(format_.encoding);
        for (std::size_t i = fromFront ? 1 : 0; i < front_.size(); ++i) {
            taken.keywordsBehind += IsBlankLine(front_[i], format_.encoding) ? 0 : 1;
        }
        std::string_view rest = std::string_view(base_).substr(taken_);
        if (!other) {
            rest.remove_prefix(length);
        }
        taken.keywordsBehind += KeywordsIn(rest, format_.encoding);
        return taken;
    }
    if (Result<void> e = AppendJournal(Record('+', line)); !e) {
        return e.error();
    }
    if (fromFront) {
        front_.pop_front();
    } else {
        taken_ += length;
        --baseKeywords_;
    }
    MarkDirty();
    taken.kind = Taken::Kind::kKeyword;
    taken.keyword = KeywordFromLine(line, format_.encoding, &taken.lossy);
    if (taken.lossy) {
        taken.original = LineAsUtf8(line, format_.encoding);
    }
    taken.line = line;
    inFlight_.push_back({taken.keyword, std::move(line)});
    return taken;
}

int KeywordQueue::RemainingCount() {
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        // Only reads: the journal may belong to a run of another process.
        const Result<ListFile> read = ReadListFile(paths_.keywordList);
        if (!read) {
            return 0;  // an unreadable list shows as empty; the next take reports why
        }
        const Bytes& list = read->contents;
        const ListFormat format = DetectListFormat(list);
        return KeywordsUpToEnd(std::string_view(list).substr(format.bomLength), format.encoding);
    }
    static_cast<void>(Refresh());  // unreadable now: the figure as last known
    return static_cast<int>(front_.size() + inFlight_.size()) + baseKeywords_;
}

std::vector<KeywordQueue::InFlight>::iterator KeywordQueue::FindInFlight(const Text& keyword,
                                                                         std::optional<std::string_view> line) {
    return std::find_if(inFlight_.begin(), inFlight_.end(),
                        [&](const InFlight& k) { return line ? k.line == *line : k.keyword == keyword; });
}

Result<void> KeywordQueue::Finish(const Text& keyword, std::optional<std::string_view> line) {
    std::lock_guard lock(mutex_);
    if (Result<void> e = EnsureLoaded(); !e && !loaded_) {
        return e;
    }
    auto it = FindInFlight(keyword, line);
    const Bytes settled = it != inFlight_.end() ? it->line
                          : line                ? Bytes(*line)
                                                : LineFromKeyword(keyword, format_.encoding);
    if (Result<void> e = AppendJournal(Record('-', settled)); !e) {
        return e;
    }
    if (it != inFlight_.end()) {
        inFlight_.erase(it);
    }
    return Success();
}

Result<void> KeywordQueue::Return(const Text& keyword, std::optional<std::string_view> line) {
    std::lock_guard lock(mutex_);
    if (keyword.empty()) {
        return Success();
    }
    if (Result<void> e = EnsureLoaded(); !e && !loaded_) {
        return e;
    }
    auto it = FindInFlight(keyword, line);
    Bytes returned = it != inFlight_.end() ? it->line
                     : line                ? Bytes(*line)
                                           : LineFromKeyword(keyword, format_.encoding);
    if (Result<void> e = AppendJournal(Record('<', returned)); !e) {
        return e;
    }
    if (it != inFlight_.end()) {
        inFlight_.erase(it);
    }
    front_.push_front(std::move(returned));
    MarkDirty();
    return Success();
}

Result<void> KeywordQueue::Flush() {
    std::lock_guard lock(mutex_);
    return FlushLocked();
}

ListFormat KeywordQueue::Format() {
    std::lock_guard lock(mutex_);
    return format_;
}

}  // namespace qj

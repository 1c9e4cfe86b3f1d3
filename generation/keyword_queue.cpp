#include "generation/keyword_queue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/program_folder.h"
#include "text/gbk.h"

namespace qj {

namespace {

// The list is rewritten for every keyword: it is replaced as one step (safe against a crash or kill
// of the program) but not flushed to the disk each time.
constexpr bool kDurable = false;
// A journal longer than this is rewritten to hold only what is in flight.
constexpr std::size_t kJournalCompactBytes = 64 * 1024;

Text Below(const Text& folder, const char* tail) {
    return folder + kPathSeparator + tail;
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

FirstLine ReadFirstLine(std::string_view contents) {
    FirstLine first;
    std::size_t i = 0;
    while (i < contents.size()) {
        const char c = contents[i];
        if (c == '\n' || c == '\r' || c == '\0' || c == '\x1A') {
            break;
        }
        i += GbkUnitLength(contents, i);
    }
    first.line = Text(contents.substr(0, i));
    if (i < contents.size()) {
        first.terminatorLength = (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') ? 2 : 1;
    }
    return first;
}

TextList ListLines(const Bytes& contents) {
    TextList lines;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        const FirstLine next = ReadFirstLine(std::string_view(contents).substr(pos));
        lines.push_back(next.line);
        if (next.terminatorLength == 0) {
            break;
        }
        pos += next.line.size() + next.terminatorLength;
    }
    return lines;
}

TextList UnsettledKeywords(const Bytes& journal) {
    TextList unsettled;
    std::size_t pos = 0;
    while (pos < journal.size()) {
        const FirstLine next = ReadFirstLine(std::string_view(journal).substr(pos));
        if (next.terminatorLength == 0) {
            break;  // a line cut short: its keyword never left the list
        }
        pos += next.line.size() + next.terminatorLength;
        const Text& line = next.line;
        if (line.empty()) {
            continue;
        }
        if (line[0] == '-') {
            auto it = std::find(unsettled.begin(), unsettled.end(), line.substr(1));
            if (it != unsettled.end()) {
                unsettled.erase(it);
            }
        } else {
            unsettled.push_back(line[0] == '+' ? line.substr(1) : line);
        }
    }
    return unsettled;
}

KeywordQueue::KeywordQueue(JobPaths paths) : paths_(std::move(paths)) {}

KeywordQueue::~KeywordQueue() {
    CloseJournal();
    UnlockRun();
}

void KeywordQueue::CloseJournal() {
    if (journalFd_ >= 0) {
        ::close(journalFd_);
        journalFd_ = -1;
    }
}

bool KeywordQueue::TryLockRun() {
    std::lock_guard lock(mutex_);
    if (lockFd_ >= 0) {
        return true;
    }
    const Text folder = paths_.runLock.substr(0, paths_.runLock.rfind(kPathSeparator));
    const int fd =
        EnsureFolder(folder) ? -1 : ::open(NativePath(paths_.runLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return true;  // no lock file possible (a read-only folder): nothing else can run there either
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

void KeywordQueue::UnlockRun() {
    std::lock_guard lock(mutex_);
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // closing releases the lock
        lockFd_ = -1;
    }
}

namespace {

KeywordQueue::FileStamp StampOf(const Text& path, bool* exists) {
    struct stat st {};
    *exists = ::stat(NativePath(path).c_str(), &st) == 0;
    return {st.st_dev, st.st_ino, static_cast<unsigned long long>(st.st_size),
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

// Keywords a list holds before its first empty line, which ends a run.
int KeywordsBeforeEmptyLine(const Bytes& list) {
    int lines = 0;
    std::size_t pos = 0;
    while (pos < list.size()) {
        const FirstLine next = ReadFirstLine(std::string_view(list).substr(pos));
        if (next.line.empty()) {
            break;
        }
        ++lines;
        pos += next.line.size() + next.terminatorLength;
    }
    return lines;
}

}  // namespace

bool KeywordQueue::CacheIsCurrent() {
    if (!listStamp_) {
        return false;
    }
    bool exists = false;
    const FileStamp now = StampOf(paths_.keywordList, &exists);
    if (exists && now == *listStamp_) {
        return true;
    }
    listStamp_.reset();
    return false;
}

std::optional<FileError> KeywordQueue::ReadList(Bytes& list) {
    if (CacheIsCurrent()) {
        list = listCache_;
        return std::nullopt;
    }
    return ReadFileOrEmpty(paths_.keywordList, list);
}

std::optional<FileError> KeywordQueue::WriteList(const Bytes& list, std::optional<int> keywords) {
    listStamp_.reset();
    if (std::optional<FileError> e = ReplaceFileContents(paths_.keywordList, list, 0644, kDurable)) {
        return e;
    }
    bool exists = false;
    const FileStamp stamp = StampOf(paths_.keywordList, &exists);
    if (exists) {
        listStamp_ = stamp;
        listCache_ = list;
        listKeywords_ = keywords;
    }
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::AppendJournal(const Text& record) {
    if (journalFd_ < 0) {
        journalFd_ = ::open(NativePath(paths_.journal).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (journalFd_ < 0) {
            return FileError{paths_.journal, SystemReason(errno)};
        }
        struct stat st {};
        journalBytes_ = ::fstat(journalFd_, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    }
    const Bytes line = record + "\r\n";
    // One write per record, so a crash leaves at most the last line cut short.
    const ssize_t written = ::write(journalFd_, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        const int error = written < 0 ? errno : EIO;
        CloseJournal();
        return FileError{paths_.journal, SystemReason(error)};
    }
    journalBytes_ += line.size();
    return std::nullopt;
}

std::optional<FileError> KeywordQueue::Settle(const Text& keyword) {
    auto it = std::find(inFlight_.begin(), inFlight_.end(), keyword);
    if (it != inFlight_.end()) {
        inFlight_.erase(it);
    }
    if (inFlight_.empty() && journalFd_ >= 0 && ::ftruncate(journalFd_, 0) == 0) {
        journalBytes_ = 0;
        return std::nullopt;
    }
    if (std::optional<FileError> e = AppendJournal("-" + keyword)) {
        return e;
    }
    if (journalBytes_ > kJournalCompactBytes) {
        Bytes compact;
        for (const Text& k : inFlight_) {
            compact += "+" + k + "\r\n";
        }
        CloseJournal();
        return ReplaceFileContents(paths_.journal, compact, 0644, kDurable);
    }
    return std::nullopt;
}

int KeywordQueue::Recover(std::optional<FileError>* error) {
    std::lock_guard lock(mutex_);
    Bytes journal;
    std::optional<FileError> e = ReadFileOrEmpty(paths_.journal, journal);
    TextList unsettled;
    if (!e && !journal.empty()) {
        unsettled = UnsettledKeywords(journal);
        // Keywords this queue has in flight are not interrupted: they stay in the journal.
        for (const Text& k : inFlight_) {
            auto it = std::find(unsettled.begin(), unsettled.end(), k);
            if (it != unsettled.end()) {
                unsettled.erase(it);
            }
        }
        Bytes front;
        for (const Text& keyword : unsettled) {
            front += keyword + "\r\n";
        }
        Bytes list;
        if (!unsettled.empty()) {
            e = ReadList(list);
            if (!e) {
                e = WriteList(front + list);
            }
        }
        if (!e) {
            Bytes kept;
            for (const Text& k : inFlight_) {
                kept += "+" + k + "\r\n";
            }
            CloseJournal();
            e = ReplaceFileContents(paths_.journal, kept, 0644, kDurable);
        }
    }
    if (error) {
        *error = e;
    }
    return e ? 0 : static_cast<int>(unsettled.size());
}

KeywordQueue::Taken KeywordQueue::TakeNextKeyword() {
    std::lock_guard lock(mutex_);
    Taken taken;
    Bytes list;
    if (ReadList(list) || list.empty()) {
        return taken;  // no list, an unreadable one or an empty one: the end
    }
    const FirstLine first = ReadFirstLine(list);
    const Bytes rest = list.substr(first.line.size() + first.terminatorLength);
    if (first.line.empty()) {
        taken.error = WriteList(rest);
        taken.kind = taken.error ? Taken::Kind::kError : Taken::Kind::kEnd;
        return taken;
    }
    // Into the journal first, out of the list second: a crash in between duplicates, never loses.
    if ((taken.error = AppendJournal("+" + first.line))) {
        taken.kind = Taken::Kind::kError;
        return taken;
    }
    inFlight_.push_back(first.line);
    const bool counted = listStamp_ && listKeywords_;  // the list was this queue's own, counted
    if ((taken.error = WriteList(rest, counted ? std::optional<int>(*listKeywords_ - 1) : std::nullopt))) {
        Settle(first.line);
        taken.kind = Taken::Kind::kError;
        return taken;
    }
    taken.kind = Taken::Kind::kKeyword;
    taken.keyword = first.line;
    return taken;
}

int KeywordQueue::RemainingCount() {
    std::lock_guard lock(mutex_);
    const int inFlight = static_cast<int>(inFlight_.size());
    if (CacheIsCurrent()) {
        if (!listKeywords_) {
            listKeywords_ = KeywordsBeforeEmptyLine(listCache_);
        }
        return *listKeywords_ + inFlight;
    }
    Bytes list;
    if (ReadFileOrEmpty(paths_.keywordList, list)) {
        return inFlight;  // an unreadable list shows as empty; the next take reports why
    }
    return KeywordsBeforeEmptyLine(list) + inFlight;
}

std::optional<FileError> KeywordQueue::Finish(const Text& keyword) {
    std::lock_guard lock(mutex_);
    return Settle(keyword);
}

std::optional<FileError> KeywordQueue::Return(const Text& keyword) {
    std::lock_guard lock(mutex_);
    Bytes list;
    if (std::optional<FileError> e = ReadList(list)) {
        return e;
    }
    if (std::optional<FileError> e = WriteList(keyword + "\r\n" + list)) {
        return e;
    }
    return Settle(keyword);
}

}  // namespace qj

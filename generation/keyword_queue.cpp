#include "generation/keyword_queue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "app/program_folder.h"
#include "text/gbk.h"

namespace qj {

namespace {

// The queue files are rewritten for every keyword: they are replaced as one step (safe against a
// crash or kill of the program) but not flushed to the disk each time.
constexpr bool kDurable = false;

Text Below(const Text& folder, const char* tail) { return folder + kPathSeparator + tail; }

// The contents of a file; a missing file reads as empty.
std::optional<FileError> ReadOrEmpty(const Text& path, Bytes& contents) {
    int error = 0;
    std::optional<Bytes> read = ReadFileBytes(path, &error);
    if (read) {
        contents = std::move(*read);
        return std::nullopt;
    }
    contents.clear();
    if (error == ENOENT) {
        return std::nullopt;
    }
    return FileError{path, SystemReason(error)};
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

KeywordQueue::KeywordQueue(JobPaths paths) : paths_(std::move(paths)) {}

KeywordQueue::~KeywordQueue() { UnlockRun(); }

bool KeywordQueue::TryLockRun() {
    std::lock_guard lock(mutex_);
    if (lockFd_ >= 0) {
        return true;
    }
    const Text folder = paths_.runLock.substr(0, paths_.runLock.rfind(kPathSeparator));
    EnsureFolder(folder);
    const int fd = ::open(NativePath(paths_.runLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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

int KeywordQueue::Recover(std::optional<FileError>* error) {
    std::lock_guard lock(mutex_);
    Bytes journal;
    std::optional<FileError> e = ReadOrEmpty(paths_.journal, journal);
    int restored = 0;
    if (!e && !journal.empty()) {
        Bytes front;
        for (const Text& keyword : ListLines(journal)) {
            if (!keyword.empty()) {
                front += keyword + "\r\n";
                ++restored;
            }
        }
        Bytes list;
        e = ReadOrEmpty(paths_.keywordList, list);
        if (!e && restored > 0) {
            e = ReplaceFileContents(paths_.keywordList, front + list, 0644, kDurable);
        }
        if (!e) {
            e = ReplaceFileContents(paths_.journal, "", 0644, kDurable);
        }
    }
    if (error) {
        *error = e;
    }
    return e ? 0 : restored;
}

KeywordQueue::Taken KeywordQueue::TakeNextKeyword() {
    std::lock_guard lock(mutex_);
    Taken taken;
    std::optional<Bytes> list = ReadFileBytes(paths_.keywordList);
    if (!list || list->empty()) {
        return taken;  // no list, an unreadable one or an empty one: the end
    }
    const FirstLine first = ReadFirstLine(*list);
    const Bytes rest = list->substr(first.line.size() + first.terminatorLength);
    if (first.line.empty()) {
        taken.error = ReplaceFileContents(paths_.keywordList, rest, 0644, kDurable);
        taken.kind = taken.error ? Taken::Kind::kError : Taken::Kind::kEnd;
        return taken;
    }
    // Into the journal first, out of the list second: a crash in between duplicates, never loses.
    if ((taken.error = AppendToFile(paths_.journal, first.line + "\r\n"))) {
        taken.kind = Taken::Kind::kError;
        return taken;
    }
    if ((taken.error = ReplaceFileContents(paths_.keywordList, rest, 0644, kDurable))) {
        RemoveFromJournal(first.line);
        taken.kind = Taken::Kind::kError;
        return taken;
    }
    taken.kind = Taken::Kind::kKeyword;
    taken.keyword = first.line;
    return taken;
}

std::optional<FileError> KeywordQueue::RemoveFromJournal(const Text& keyword) {
    Bytes journal;
    if (std::optional<FileError> e = ReadOrEmpty(paths_.journal, journal)) {
        return e;
    }
    Bytes kept;
    bool removed = false;
    for (const Text& line : ListLines(journal)) {
        if (!removed && line == keyword) {
            removed = true;
            continue;
        }
        if (!line.empty()) {
            kept += line + "\r\n";
        }
    }
    return ReplaceFileContents(paths_.journal, kept, 0644, kDurable);
}

std::optional<FileError> KeywordQueue::Finish(const Text& keyword) {
    std::lock_guard lock(mutex_);
    return RemoveFromJournal(keyword);
}

std::optional<FileError> KeywordQueue::Return(const Text& keyword) {
    std::lock_guard lock(mutex_);
    Bytes list;
    if (std::optional<FileError> e = ReadOrEmpty(paths_.keywordList, list)) {
        return e;
    }
    if (std::optional<FileError> e = ReplaceFileContents(paths_.keywordList, keyword + "\r\n" + list, 0644, kDurable)) {
        return e;
    }
    return RemoveFromJournal(keyword);
}

}  // namespace qj

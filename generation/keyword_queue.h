#pragma once

#include <mutex>
#include <string_view>

#include "app/file_system.h"
#include "text/types.h"

namespace qj {

// The files of the generation job, as GBK paths.
struct JobPaths {
    Text keywordList;   // keywords still to do, one per line
    Text journal;       // keywords taken but not yet settled, one per line
    Text outputFolder;  // one file per keyword, ends with the separator
    Text failureList;   // keywords that failed, one per line
    Text runLock;       // held by the run that works on this list
};

// Where keywords taken but not yet settled are kept, beside the keyword list.
inline constexpr const char* kJournalTail =
    "OpenAi/\xD5\xFD\xD4\xDA\xC9\xFA\xB3\xC9\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/正在生成关键词.txt

inline constexpr const char* kRunLockTail = "OpenAi/.run.lock";

// The paths below a program folder (a GBK path without trailing separator).
JobPaths JobPathsIn(const Text& programFolder);

// The keyword list as the job's queue. A keyword that leaves the list is first recorded in the
// journal; it is settled when its outcome is recorded (Finish) or when it goes back to the front of
// the list (Return). Whatever the journal holds unsettled when a run starts goes back to the front
// of the list first (Recover), so a keyword is never lost: at worst, after a hard kill, it is
// requested twice. Each change of the list is a whole-file replacement, never a partial rewrite;
// the journal only grows by whole lines ("+keyword" taken, "-keyword" settled) and is emptied when
// nothing is in flight. Safe for several workers of one process.
class KeywordQueue {
public:
    explicit KeywordQueue(JobPaths paths);
    ~KeywordQueue();
    KeywordQueue(const KeywordQueue&) = delete;
    KeywordQueue& operator=(const KeywordQueue&) = delete;

    struct Taken {
        enum class Kind { kKeyword, kEnd, kError } kind = Kind::kEnd;
        Text keyword;
        std::optional<FileError> error;
    };

    // Puts the journal's unsettled keywords back at the front of the list, in the order they were
    // taken. Returns how many went back.
    int Recover(std::optional<FileError>* error = nullptr);

    // Takes the first line of the list: kEnd for a missing or empty list or an empty first line
    // (which is cut out too); kError when the list or the journal could not be changed (nothing
    // was taken then).
    [[nodiscard]] Taken TakeNextKeyword();

    // The keyword's outcome is recorded: it is settled.
    [[nodiscard]] std::optional<FileError> Finish(const Text& keyword);

    // The keyword was not settled (the run was stopped): back to the front of the list.
    [[nodiscard]] std::optional<FileError> Return(const Text& keyword);

    // One run at a time per keyword list, also across processes: a run holds this lock (released
    // by the system when the process ends, however it ends). False when another holder has it.
    [[nodiscard]] bool TryLockRun();
    void UnlockRun();

    // Keywords not settled yet: the lines of the list up to its first empty line, and those in
    // flight. Reads the list only when it changed since this queue last saw it.
    int RemainingCount();

    const JobPaths& paths() const { return paths_; }

    // What identifies one version of a file: device, inode, size and time of the last change.
    struct FileStamp {
        unsigned long long device = 0, inode = 0, size = 0;
        long long modifiedNs = -1;
        bool operator==(const FileStamp&) const = default;
    };

private:
    // Whether the file is still the list this queue last wrote.
    bool CacheIsCurrent();

    std::optional<FileError> ReadList(Bytes& list);
    // `keywords`: how many keywords the list holds before an empty line, when already known.
    std::optional<FileError> WriteList(const Bytes& list, std::optional<int> keywords = std::nullopt);
    std::optional<FileError> AppendJournal(const Text& record);
    std::optional<FileError> Settle(const Text& keyword);
    void CloseJournal();

    JobPaths paths_;
    std::mutex mutex_;
    int lockFd_ = -1;
    int journalFd_ = -1;
    std::size_t journalBytes_ = 0;
    TextList inFlight_;
    // The list as this queue last wrote it, to skip re-reading an unchanged file.
    std::optional<FileStamp> listStamp_;
    Bytes listCache_;
    std::optional<int> listKeywords_;
};

// The keywords a journal leaves unsettled, in the order they were taken (whole lines only: a line
// cut short by a crash does not count).
TextList UnsettledKeywords(const Bytes& journal);

// The first line of a keyword list and the length of its line end: CR LF, LF or a lone CR (also a
// zero byte or 0x1A, which end the readable part of a text file). A trail byte never ends a line.
struct FirstLine {
    Text line;
    std::size_t terminatorLength = 0;
};
FirstLine ReadFirstLine(std::string_view contents);

// The lines of a list file (CR LF, LF or CR line ends; empty lines kept, a last empty piece dropped).
TextList ListLines(const Bytes& contents);

}  // namespace qj

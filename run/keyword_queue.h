#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "run/keyword_list.h"
#include "platform/file_system.h"
#include "platform/open_file.h"
#include "platform/run_lock.h"
#include "text/types.h"

namespace qj {

// The files of the generation job, as GBK paths.
struct JobPaths {
    Text keywordList;   // keywords still to do, one per line
    Text journal;       // keywords taken but not yet settled, one per line
    Text outputFolder;  // one file per keyword, ends with the separator
    Text failureList;   // keywords that failed, one per line
    Text runLock;       // held by the run that works on this list
    Text runLogFolder;  // the run-log file of every run, ends with the separator
};

// Tails of the job's files, appended to the program folder.
inline constexpr const char* kKeywordListTail =
    "OpenAi/\xB4\xFD\xB2\xC9\xBC\xAF\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/待采集关键词.txt
inline constexpr const char* kOutputFolderTail = "OpenAi/\xC9\xFA\xB3\xC9\xC4\xDA\xC8\xDD/";  // OpenAi/生成内容/
inline constexpr const char* kFailureListTail =
    "OpenAi/\xB2\xC9\xBC\xAF\xCA\xA7\xB0\xDC\xB2\xC9\xBC\xAF\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/采集失败采集关键词.txt

// Where keywords taken but not yet settled are kept, beside the keyword list.
inline constexpr const char* kJournalTail =
    "OpenAi/\xD5\xFD\xD4\xDA\xC9\xFA\xB3\xC9\xB9\xD8\xBC\xFC\xB4\xCA.txt";  // OpenAi/正在生成关键词.txt

inline constexpr const char* kRunLockTail = "OpenAi/.run.lock";

inline constexpr const char* kRunLogFolderTail = "OpenAi/\xD4\xCB\xD0\xD0\xC8\xD5\xD6\xBE/";  // OpenAi/运行日志/

// The paths below a program folder (a GBK path without trailing separator).
JobPaths JobPathsIn(const Text& programFolder);

// How often, at most, the list file is rewritten while keywords are taken.
inline constexpr std::chrono::milliseconds kListWriteInterval{2000};

// The keyword list as the job's queue. Taking a keyword costs one journal record, however long the
// list: the list is held in memory and the file is rewritten only every kListWriteInterval and when
// the run ends (UnlockRun, Flush). The journal records every change since the file was last
// rewritten, so after a kill at any point the next Recover rebuilds exactly what remained: each
// keyword is then either settled (Finish), or in the list, once. Keywords that were in flight go
// back to the front of the list, in the order they were taken. Lines that someone appends to the
// file meanwhile are kept; a file rewritten by someone else is taken as it now is, less the lines
// taken since the last write that it still starts with. The list's encoding is decided when it is
// first read for a run (TryLockRun reads it afresh) and kept for the run: every line goes back with
// the bytes it had, and the journal names the encoding, so that the recovery after a kill reads
// the list as the run did. Safe for several workers of one process.
//
// The journal holds whole CR LF lines: "+line" taken, "-line" settled, "<line" settled by going
// back to the front, "#" the file shows everything above (with the name of the list's encoding
// when the journal starts), "=id" the file is about to be replaced by the temporary file `id`
// names (done when that file is gone), "!" that replacement was abandoned. The lines of a UTF-16
// list are written as hexadecimal digits of their bytes.
class KeywordQueue {
public:
    explicit KeywordQueue(JobPaths paths, std::chrono::milliseconds writeInterval = kListWriteInterval);
    ~KeywordQueue();
    KeywordQueue(const KeywordQueue&) = delete;
    KeywordQueue& operator=(const KeywordQueue&) = delete;

    struct Taken {
        enum class Kind { kKeyword, kEnd } kind = Kind::kEnd;
        Text keyword;
        bool lossy = false;  // the line had characters that GBK lacks: they are "?" in `keyword`
        Bytes line;          // as the list holds it
        Bytes original;      // when lossy: the line as UTF-8, which tells such keywords apart
        // Why a kEnd came before the end of the list: the next line is empty or blank, or starts
        // with the byte-order mark of another encoding (`other`; files of two encodings joined).
        // That line stays in the list; `keywordsBehind` counts the keywords from there on.
        enum class Halt { kNone, kEmptyLine, kOtherEncoding } halt = Halt::kNone;
        ListEncoding other = ListEncoding::kGbk;
        int keywordsBehind = 0;
    };

    // Applies what a run that ended without settling left in the journal, and puts its keywords in
    // flight back at the front of the list, in the order they were taken. Returns how many went back.
    [[nodiscard]] Result<int> Recover();

    // Takes the first line of the list: kEnd for a missing or empty list, and before a line that
    // is empty or blank or in another encoding (see Taken::Halt; that line stays, and no further
    // keyword is taken until the next run); a failure when the list could not be read, or not be
    // written lately, or the journal not be written (nothing was taken then).
    [[nodiscard]] Result<Taken> TakeNextKeyword();

    // The keyword's outcome is recorded: it is settled. With `line` (Taken::line), the keyword
    // taken from that line, which two lines whose characters GBK lacks may share a keyword.
    [[nodiscard]] Result<void> Finish(const Text& keyword,
                                                  std::optional<std::string_view> line = std::nullopt);

    // The keyword was not settled (the run was stopped): back to the front of the list, with the
    // bytes its line had.
    [[nodiscard]] Result<void> Return(const Text& keyword,
                                                  std::optional<std::string_view> line = std::nullopt);

    // Rewrites the list file to show what remains, if it does not yet.
    [[nodiscard]] Result<void> Flush();

    // One run at a time per keyword list, also across processes: a run holds this lock (released
    // by the system when the process ends, however it ends). False when another holder has it.
    [[nodiscard]] bool TryLockRun();
    // Flushes (a failure leaves the journal to the next Recover) and releases the lock.
    void UnlockRun();

    // Keywords not settled yet: the lines of the list up to its first empty line, and those in flight.
    int RemainingCount();

    // How the list is read in this run (GBK until it was read).
    ListFormat Format();

    const JobPaths& paths() const { return paths_; }

    // Called before every change the queue makes on disk, from whichever thread makes it: lets a
    // test end the process exactly there. Null by default.
    static void SetBeforeDiskChange(void (*hook)());

    using FileStamp = FileIdentity;

private:
    struct InFlight {
        Text keyword;
        Bytes line;  // as the list held it
    };

    std::vector<InFlight>::iterator FindInFlight(const Text& keyword, std::optional<std::string_view> line);
    [[nodiscard]] Result<void> EnsureLoaded(int* recovered = nullptr);
    [[nodiscard]] Result<void> Refresh(bool* changed = nullptr);
    // Writes the list if it does not show what remains, and remembers how that went.
    [[nodiscard]] Result<void> FlushLocked();
    [[nodiscard]] Result<void> WriteList();
    [[nodiscard]] Result<void> Compact();
    [[nodiscard]] Result<void> AppendJournal(const Bytes& records);
    [[nodiscard]] Result<void> TruncateJournal();
    // Takes `contents` as the file's bytes, nothing taken from them yet, read in `encoding` (none:
    // decided from the bytes).
    void Adopt(Bytes contents, std::optional<FileStamp> stamp, std::optional<ListEncoding> encoding);
    // A journal record of a line of the list.
    Bytes Record(char kind, std::string_view line) const;
    void CountKeywords();
    void MarkDirty();
    void WriteInBackground();
    void CloseJournal();
    void Unload();

    JobPaths paths_;
    const std::chrono::milliseconds writeInterval_;
    std::mutex mutex_;
    RunLock runLock_;
    bool runActive_ = false;

    bool loaded_ = false;
    Bytes base_;                           // the list file as this queue last wrote or read it
    std::optional<FileStamp> stamp_;       // of that file; none when there was none
    ListFormat format_;                    // of base_
    std::size_t taken_ = 0;                // base_ up to here is out of the list
    std::deque<Bytes> front_;              // lines back in front of the rest of base_
    std::vector<InFlight> inFlight_;       // in the order they were taken
    int baseKeywords_ = 0;                 // in base_ from taken_ up to its first empty line
    bool ended_ = false;                   // an empty line was taken
    bool dirty_ = false;                   // the file does not show what remains
    bool writeFailed_ = false;             // the last write of the list failed

    OpenFile journal_;              // open while records are being appended
    std::size_t journalBytes_ = 0;  // whole records in the journal
    bool journalSuspect_ = false;   // a record may have been cut short

    std::chrono::steady_clock::time_point lastWrite_{};
    std::chrono::steady_clock::duration lastWriteTook_{};
    std::condition_variable wake_;
    std::thread writer_;
    bool stopping_ = false;
};

// The keywords a journal leaves unsettled, as their lines, in the order they were taken (whole
// records only: a line cut short by a crash does not count).
std::vector<Bytes> UnsettledKeywords(const Bytes& journal);

}  // namespace qj

#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj::publishing {

// Why an operation failed, or nothing when it did not.
inline std::optional<Error> ErrorOf(const Result<void>& result) {
    return result ? std::nullopt : std::optional<Error>(result.error());
}

// A file of lines (GBK, CR LF) that several workers change at once, where each of them must know
// its change is on the disk before it goes on. The file is always replaced whole, durably, through
// the platform's atomic writer, so a kill or power cut leaves the old lines or the new ones. Changes
// that come in while a write is under way go to the disk together in the next one, so the cost of
// the disk flushes does not grow with the number of workers.
class DurableLines {
public:
    using Lines = std::vector<Text>;

    explicit DurableLines(Text path) : path_(std::move(path)) {}

    const Text& path() const { return path_; }

    // Reads the file into memory; a missing file holds no lines. Blank lines are dropped.
    [[nodiscard]] std::optional<Error> Load();

    // Runs `read` on the lines under the lock.
    void Read(const std::function<void(const Lines&)>& read) const;

    // Applies `change` to the lines and returns once a write holding the change reached the disk;
    // the write's failure when it did not (the change then stays in memory and goes with a later
    // write).
    [[nodiscard]] std::optional<Error> Change(const std::function<void(Lines&)>& change);

    // Applies `change` in memory only: it reaches the disk with the next write. Returns its number
    // for WaitWritten.
    std::uint64_t ChangeLater(const std::function<void(Lines&)>& change);

    // Returns once the change numbered `change` is on the disk (writing it when no other worker
    // is); the write's failure when it did not get there.
    [[nodiscard]] std::optional<Error> WaitWritten(std::uint64_t change);

    // Writes what changed in memory since the last write, if anything did (or the last write failed).
    [[nodiscard]] std::optional<Error> Flush();

private:
    // WaitWritten with `lock` holding mutex_.
    std::optional<Error> WaitWritten(std::unique_lock<std::mutex>& lock, std::uint64_t change);

    struct FailedWrite {
        std::uint64_t from = 0;
        std::uint64_t upTo = 0;
        Error error;
    };

    const Text path_;
    mutable std::mutex mutex_;
    std::condition_variable written_;
    Lines lines_;
    std::uint64_t changes_ = 0;       // changes made so far
    std::uint64_t writtenUpTo_ = 0;   // changes the last finished write held
    bool writing_ = false;
    bool lastWriteFailed_ = false;    // the disk holds less than memory
    std::deque<FailedWrite> failed_;  // the latest failed writes
};

}  // namespace qj::publishing

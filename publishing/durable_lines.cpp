#include "publishing/durable_lines.h"

#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

constexpr std::size_t kFailuresKept = 64;

}  // namespace

std::optional<Error> DurableLines::Load() {
    Result<Bytes> read = ReadFileOrEmpty(path_);
    if (!read) {
        return read.error();
    }
    const Bytes& contents = *read;
    Lines lines;
    for (std::size_t start = 0; start < contents.size();) {
        std::size_t end = contents.find('\n', start);
        if (end == Bytes::npos) {
            end = contents.size();
        }
        std::string_view line(contents.data() + start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            lines.emplace_back(line);
        }
        start = end + 1;
    }
    std::lock_guard lock(mutex_);
    lines_ = std::move(lines);
    return std::nullopt;
}

void DurableLines::Read(const std::function<void(const Lines&)>& read) const {
    std::lock_guard lock(mutex_);
    read(lines_);
}

std::optional<Error> DurableLines::Change(const std::function<void(Lines&)>& change) {
    std::unique_lock lock(mutex_);
    change(lines_);
    return WaitWritten(lock, ++changes_);
}

std::uint64_t DurableLines::ChangeLater(const std::function<void(Lines&)>& change) {
    std::lock_guard lock(mutex_);
    change(lines_);
    return ++changes_;
}

std::optional<Error> DurableLines::WaitWritten(std::uint64_t change) {
    std::unique_lock lock(mutex_);
    return WaitWritten(lock, change);
}

std::optional<Error> DurableLines::Flush() {
    std::unique_lock lock(mutex_);
    if (changes_ == writtenUpTo_ && !writing_ && !lastWriteFailed_) {
        return std::nullopt;
    }
    if (changes_ == writtenUpTo_) {
        ++changes_;  // a failed write is tried again
    }
    return WaitWritten(lock, changes_);
}

std::optional<Error> DurableLines::WaitWritten(std::unique_lock<std::mutex>& lock, std::uint64_t change) {
    while (writtenUpTo_ < change) {
        if (writing_) {
            written_.wait(lock);
            continue;
        }
        // This worker writes for every change made so far, its own and the waiting ones'.
        writing_ = true;
        const std::uint64_t from = writtenUpTo_ + 1;
        const std::uint64_t upTo = changes_;
        Bytes bytes;
        for (const Text& line : lines_) {
            bytes += line;
            bytes += "\r\n";
        }
        lock.unlock();
        std::optional<Error> error = ErrorOf(ReplaceFileContents(path_, bytes, 0644, true));
        lock.lock();
        writing_ = false;
        writtenUpTo_ = upTo;
        lastWriteFailed_ = error.has_value();
        if (error) {
            failed_.push_back({from, upTo, *error});
            if (failed_.size() > kFailuresKept) {
                failed_.pop_front();
            }
        }
        written_.notify_all();
    }
    for (const FailedWrite& failure : failed_) {
        if (failure.from <= change && change <= failure.upTo) {
            return failure.error;
        }
    }
    return std::nullopt;
}

}  // namespace qj::publishing

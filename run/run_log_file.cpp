#include "run/run_log_file.h"

#include <cerrno>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

constexpr int kNamesPerSecond = 100;

}  // namespace

Text RunLogFileStem(const std::tm& when) {
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d.%02d.%02d", when.tm_year + 1900, when.tm_mon + 1,
                  when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return name;
}

RunLogFile::RunLogFile(Text folder, const std::tm& startedAt) : folder_(std::move(folder)), startedAt_(startedAt) {}

Result<void> RunLogFile::Open() {
    if (Result<void> made = EnsureFolder(folder_); !made) {
        return made;
    }
    const Text stem = RunLogFileStem(startedAt_);
    for (int n = 1; n <= kNamesPerSecond; ++n) {
        const Text path = folder_ + stem + (n == 1 ? Text() : " (" + std::to_string(n) + ")") + ".txt";
        if (file_.Open(NativePath(path), OpenFile::Mode::kCreateNew)) {
            path_ = path;
            return Success();
        }
        if (file_.Error() != EEXIST) {
            return FileFailure(path, file_.Error());
        }
    }
    return FileFailure(folder_ + stem + ".txt", EEXIST);
}

Result<void> RunLogFile::Append(const Text& line) {
    std::lock_guard lock(mutex_);
    if (failed_) {
        return Success();
    }
    Result<void> written = file_.IsOpen() ? Success() : Open();
    if (written && !file_.WriteAll(line)) {
        written = FileFailure(path_, file_.Error());
    }
    failed_ = !written;
    return written;
}

Text RunLogFile::Path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

}  // namespace qj

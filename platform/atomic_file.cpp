#include "platform/atomic_file.h"

#include <cerrno>
#include <random>

#include "platform/file_system.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

namespace fs = std::filesystem;

constexpr int kNameAttempts = 100;

fs::path::string_type RandomLetters(int count) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    fs::path::string_type letters;
    for (int i = 0; i < count; ++i) {
        letters.push_back(static_cast<fs::path::value_type>(kLetters[random() % (sizeof kLetters - 1)]));
    }
    return letters;
}

fs::path::string_type Native(const char* ascii) {
    return fs::path(ascii).native();
}

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
    Abandon();
}

Error AtomicFileWriter::Failure(int errorNumber) const {
    return FileFailure(path_, errorNumber);
}

Result<void> AtomicFileWriter::Begin(const Text& path, const Options& options) {
    Abandon();
    path_ = path;
    options_ = options;
    const fs::path named = NativePath(path);
    target_ = options.throughLinks ? ResolvedTarget(named) : named;
    fs::path folder = target_.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const auto nameFor = [&](int attempt) {
        return options_.temporaryName ? options_.temporaryName(attempt)
                                      : Native(".") + target_.filename().native() + Native(".") + RandomLetters(6);
    };
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary_ = folder / nameFor(attempt);
        const unsigned mode = options.keepMode ? 0600 : options.newFileMode;
        if (file_.Open(temporary_, OpenFile::Mode::kCreateNew, mode)) {
            pending_ = true;
            if (options.keepMode && !file_.CopyModeOf(target_, options.newFileMode)) {
                const int error = file_.Error();
                Abandon();
                return Failure(error);
            }
            return Success();
        }
        if (file_.Error() != EEXIST) {
            return Failure(file_.Error());
        }
    }
    return Failure(EEXIST);
}

Result<void> AtomicFileWriter::Write(std::string_view bytes) {
    if (!file_.WriteAll(bytes)) {
        return Failure(file_.Error());
    }
    return Success();
}

Result<void> AtomicFileWriter::Commit() {
    if (options_.durable && !file_.Flush()) {
        return Failure(file_.Error());
    }
    if (!options_.keepOpen && !file_.Close()) {
        return Failure(file_.Error());
    }
    if (const int error = RenameOver(temporary_, target_, options_.durable); error != 0) {
        return Failure(error);
    }
    pending_ = false;
    return Success();
}

void AtomicFileWriter::Abandon() {
    file_.Close();
    if (pending_) {
        RemoveFile(temporary_);
        pending_ = false;
    }
}

void AtomicFileWriter::Leave() {
    file_.Close();
    pending_ = false;
}

Result<void> ReplaceFileContents(const Text& path, std::string_view contents, unsigned newFileMode, bool durable) {
    AtomicFileWriter writer;
    Result<void> done = writer.Begin(path, {.newFileMode = newFileMode, .durable = durable});
    if (done) {
        done = writer.Write(contents);
    }
    if (done) {
        done = writer.Commit();
    }
    return done;
}

Result<void> WriteFileInOneStep(const Text& path, std::string_view bytes) {
    AtomicFileWriter writer;
    // A short name of its own, so that even a file name of the longest length gets a partial file.
    AtomicFileWriter::Options options{.keepMode = false, .throughLinks = false};
    options.temporaryName = [](int) {
        return Native(kPartialFilePrefix) + RandomLetters(10) + Native(kPartialFileSuffix);
    };
    Result<void> done = writer.Begin(path, options);
    if (done) {
        done = writer.Write(bytes);
    }
    if (done) {
        done = writer.Commit();
    }
    return done;
}

}  // namespace qj

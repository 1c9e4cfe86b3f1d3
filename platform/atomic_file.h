#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/open_file.h"
#include "platform/result.h"

namespace qj {

// The one way the program writes a file that must never be seen half written: the bytes go to a
// new temporary file in the target's folder, which then takes the target's place in one rename. A
// kill or crash at any moment leaves the old file or the new one, never a mix. With `durable` the
// bytes reach the disk before the rename, so they survive a power cut too (at the cost of a disk
// flush); without it they survive a crash of the program, which is what files rewritten for every
// keyword need. Every failure names the target's path and the system's reason.
//
// Begin, Write as often as needed, Commit. A writer that is not committed removes its temporary
// file when it goes (or at Abandon); Leave keeps it for someone who recorded its name.
class AtomicFileWriter {
public:
    struct Options {
        // The permissions of the file (POSIX mode bits; Windows has the folder's). With `keepMode`
        // a replaced file keeps its own and a new one gets exactly `newFileMode`; without, the file
        // gets `newFileMode` less the umask, as any new file.
        unsigned newFileMode = 0644;
        bool keepMode = true;
        bool durable = false;
        // Whether a symbolic link at the path is written through (its target replaced) rather than
        // replaced by the file.
        bool throughLinks = true;
        // Whether the file stays open through the rename, for writes after it (Write, File()).
        bool keepOpen = false;
        // The temporary file's name for each attempt (0, 1, ...) until one is free; by default
        // "." + the target's name + "." + six random letters.
        std::function<std::filesystem::path::string_type(int attempt)> temporaryName{};
    };

    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file beside `path` (a GBK path; its folder must exist).
    [[nodiscard]] Result<void> Begin(const Text& path, const Options& options);
    // Adds bytes to the temporary file (after Commit with keepOpen: to the file in place).
    [[nodiscard]] Result<void> Write(std::string_view bytes);
    // The temporary file takes the target's place; with keepOpen the file stays open.
    [[nodiscard]] Result<void> Commit();
    // Closes and removes the temporary file (nothing when committed).
    void Abandon();
    // Closes the temporary file and leaves it where it is.
    void Leave();

    // The file the path finally names (a link resolved when written through).
    const std::filesystem::path& Target() const { return target_; }
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    // The open file (the temporary one until Commit).
    OpenFile& File() { return file_; }

private:
    Error Failure(int errorNumber) const;

    Text path_;
    Options options_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    OpenFile file_;
    bool pending_ = false;  // a temporary file that is neither committed nor left
};

// Replaces the content of a file in one step (see AtomicFileWriter): a new file gets
// `newFileMode`, a replaced one keeps its permissions, a link is written through.
[[nodiscard]] Result<void> ReplaceFileContents(const Text& path, std::string_view contents,
                                               unsigned newFileMode = 0644, bool durable = true);

// Writes a whole file so that no reader, nor a program that watches the folder, ever sees it half
// written: the bytes go to a new file of the same folder named kPartialFilePrefix + random letters +
// kPartialFileSuffix, which is renamed over the file. No disk flush: a power cut may lose the new
// bytes (the file then is empty, or still the old one), as it may for any file the system had not
// written out yet. The file gets 0644 less the umask.
[[nodiscard]] Result<void> WriteFileInOneStep(const Text& path, std::string_view bytes);

inline constexpr const char* kPartialFilePrefix = ".qingjian-";
inline constexpr const char* kPartialFileSuffix = ".part";

}  // namespace qj

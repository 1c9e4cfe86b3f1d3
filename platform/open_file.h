#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj {

// What tells one version of a file from another: the file itself (device and inode, or volume and
// file index) and its size and time of last change.
struct FileIdentity {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modifiedNs = -1;
    bool operator==(const FileIdentity&) const = default;
};

// One open file, for code that keeps a file open across several steps (a journal appended to, a
// file whose identity must be the one that was read). Closed when it goes. Every failure leaves an
// errno value in Error(); other processes may read, write, rename and delete the file meanwhile.
class OpenFile {
public:
    enum class Mode {
        kRead,            // reading, the file must exist; a pipe is opened without waiting for a writer
        kAppend,          // writing at the end, the file made when missing
        kAppendExisting,  // writing at the end, the file must exist
        kCreateNew,       // reading and writing a file that must not exist yet
    };

    OpenFile() = default;
    ~OpenFile() { Close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Opens `path` (a name as the file system takes it, see NativePath). A new file gets
    // `newFileMode` where the system has mode bits.
    [[nodiscard]] bool Open(const std::filesystem::path& path, Mode mode, unsigned newFileMode = 0644);
    bool IsOpen() const { return handle_ != kNone; }
    // Closes the file; false (with the reason in Error()) when the system reports a failure of its
    // last writes only now. True when none was open.
    bool Close();
    int Error() const { return error_; }

    // Writes all the bytes, in one system call where the system allows (so a kill leaves at most
    // the end of them unwritten).
    [[nodiscard]] bool WriteAll(std::string_view bytes);
    // Makes the bytes written so far reach the disk.
    [[nodiscard]] bool Flush();
    // Reads from the current position to the end of the file, appending to `out`; more than
    // `limit` bytes fail with EFBIG (what was read stays in `out`).
    [[nodiscard]] bool ReadToEnd(Bytes& out, unsigned long long limit = ~0ull);
    // Whether the file is a regular file, not a folder, a pipe or a device.
    bool IsRegularFile();
    // Fills `out` (its size says how much) from `offset` on, without moving the position; cut to
    // what there was.
    [[nodiscard]] bool ReadAt(unsigned long long offset, Bytes& out);
    [[nodiscard]] bool Truncate(unsigned long long size);
    std::optional<FileIdentity> Identity();
    // The permissions of a file at `path` given to this file (POSIX mode bits; a system without
    // them has nothing to copy). When there is no such file, `fallback`.
    [[nodiscard]] bool CopyModeOf(const std::filesystem::path& path, unsigned fallback);

private:
    static constexpr std::intptr_t kNone = -1;
    bool Fail();

    std::intptr_t handle_ = kNone;
    int error_ = 0;
    bool append_ = false;  // every write goes to the end
};

// The identity of the file at `path`; nullopt when there is none.
std::optional<FileIdentity> IdentityOfFile(const std::filesystem::path& path);

// Renames `from` over `to`, which it replaces in one step when it exists; 0 or the errno value.
// With `writeThrough` the rename itself reaches the disk before it returns, where the system lets
// a caller ask for that. `from` may be open. Whether `to` may be open too, this system tells: Windows refuses to replace a
// file while any handle on it is open, even one that shares deletion.
int RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool writeThrough = false);
#if defined(_WIN32)
inline constexpr bool kRenameOverOpenFile = false;
#else
inline constexpr bool kRenameOverOpenFile = true;
#endif

// Removes a file; false when it could not.
bool RemoveFile(const std::filesystem::path& path);

// Whether anything (a file, a folder) is at `path`; nullopt when the system cannot tell.
std::optional<bool> PathExists(const std::filesystem::path& path);

// This process's number, to name its temporary files.
unsigned long ProcessNumber();

}  // namespace qj

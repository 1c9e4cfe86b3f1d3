#include <windows.h>

#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "platform/run_lock.h"
#include "platform/windows_path.h"

namespace qj {

bool RunLock::TryLock(const Text& path) {
    Unlock();
    const Text folder = path.substr(0, path.rfind(kPathSeparator));
    HANDLE file = INVALID_HANDLE_VALUE;
    if (EnsureFolder(folder)) {
        file = CreateFileW(LongPathForm(NativePath(path)).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file != INVALID_HANDLE_VALUE) {
        OVERLAPPED whole{};
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
            CloseHandle(file);
            return false;
        }
    }
    handle_ = file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file);
    return true;
}

void RunLock::Unlock() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing releases the lock
        handle_ = -1;
    }
}

}  // namespace qj

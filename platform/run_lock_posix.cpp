#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "platform/program_folder.h"

namespace qj {

bool RunLock::TryLock(const Text& path) {
    Unlock();
    const Text folder = path.substr(0, path.rfind(kPathSeparator));
    const int fd = !EnsureFolder(folder) ? -1 : ::open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

void RunLock::Unlock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));  // closing releases the lock
        handle_ = -1;
    }
}

}  // namespace qj

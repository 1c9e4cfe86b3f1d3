#pragma once

#include <cstdint>

#include "text/types.h"

namespace qj {

// One holder at a time for a lock file, across processes. The system releases the lock when its
// holder lets go or its process ends, however it ends, so a killed program never leaves a stale
// lock behind.
class RunLock {
public:
    RunLock() = default;
    ~RunLock() { Unlock(); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock of the file at `path`, creating the file and its folder when missing. False
    // when another holder has it. A file that cannot be created (a read-only folder) counts as
    // taken: nothing else can run there either.
    [[nodiscard]] bool TryLock(const Text& path);
    // Lets go of the lock; does nothing when none is held.
    void Unlock();

private:
    std::intptr_t handle_ = -1;  // the open lock file, -1 when there is none
};

}  // namespace qj

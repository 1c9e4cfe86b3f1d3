#pragma once

// Shared by the Windows implementations of platform/: the callers speak errno (a missing file is
// ENOENT on every system), so the Win32 errors a file operation meets become the nearest errno value.

namespace qj {

int ErrnoOfWindowsError(unsigned long error);

}  // namespace qj

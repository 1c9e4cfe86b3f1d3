#pragma once

namespace qj {

// Exit codes of the window-less mode.
inline constexpr int kBatchAllDone = 0;
inline constexpr int kBatchSomeFailed = 1;
inline constexpr int kBatchUsageError = 2;
inline constexpr int kBatchInterrupted = 130;

// True when the arguments ask for the window-less mode (or are not understood: the usage then
// comes from RunBatchMode).
bool WantsBatchMode(int argc, char** argv);

// The window-less mode: the main window's controls in memory, restored from 配置.ini as the window
// would be, one generation run to its end, every run-log line on standard output as UTF-8.
// Returns the exit code: 0 no keyword failed, 1 at least one failed, 2 usage error, 130 the run was
// interrupted (SIGINT or SIGTERM: the keyword in flight goes back into the list).
int RunBatchMode(int argc, char** argv);

}  // namespace qj

#pragma once

namespace qj {

// Exit codes of the window-less mode.
inline constexpr int kBatchAllDone = 0;
inline constexpr int kBatchSomeFailed = 1;
inline constexpr int kBatchUsageError = 2;
inline constexpr int kBatchNotStarted = 3;  // another program works on the list, or it could not be prepared
inline constexpr int kBatchEndedEarly = 4;  // keywords are left: settings that cannot work, a file that cannot be written
inline constexpr int kBatchNoSettings = 5;  // 配置.ini is missing or cannot be read: no keyword was taken
inline constexpr int kBatchInterrupted = 130;

// True when the arguments ask for the window-less mode (or are not understood: the usage then
// comes from RunBatchMode).
bool WantsBatchMode(int argc, char** argv);

// The window-less mode: the settings of 配置.ini as the window would show them after restoring it
// (no window is made), one generation run to its end, every run-log line on standard output as
// UTF-8.
// Returns the exit code: 0 the list was done and no keyword failed, 1 the list was done and at least
// one keyword failed, 2 usage error, 3 the run could not start, 4 the run ended with keywords left,
// 5 配置.ini is missing or cannot be read (the run does not start: the defaults are no settings a
// user chose), 130 the run was interrupted (SIGINT or SIGTERM: the keyword in flight goes back into
// the list).
// Only 0 and 1 mean that the list went through to its end.
int RunBatchMode(int argc, char** argv);

}  // namespace qj

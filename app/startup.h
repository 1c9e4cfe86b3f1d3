#pragma once

#include "text/types.h"

namespace qj {

// The steps of start-up that need no window: the current directory becomes the program folder,
// the deployment values are read from 配置.ini, the exit routine is registered, and a write beyond
// a limit on file sizes becomes a write error instead of the end of the program.
void PrepareProcess();

// What the user is told when the main window cannot be created; the program then ends with -1.
inline constexpr int kWindowFailedExitCode = -1;
inline constexpr const char* kStartUpErrorCaption = "\xB4\xED\xCE\xF3";  // 错误
Text StartUpFailureText();

}  // namespace qj

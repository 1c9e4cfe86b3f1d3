#pragma once

#include <ctime>
#include <functional>

#include "text/types.h"

namespace qj {

// Name of the run-log edit box of the main window.
inline constexpr const char* kRunLogControl =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xD4\xCB\xD0\xD0\xC8\xD5\xD6\xBE";  // 编辑框_运行日志

class WindowModel;

// Appends "【" + time stamp + "】 > > >  " + message + "\r\n" to the run-log edit box of the run
// log's window; without a window the line goes nowhere. Safe from any thread; each line is
// appended whole.
void RunLog(const Text& message);

// The window RunLog writes to: the main window of the process, which start-up points it at (a
// test: the window it inspects); null for none. The window must outlive its use here.
void SetRunLogWindow(WindowModel* window);

// The time stamp of a run-log line: date, then the time without trailing zero parts
// (2023年2月11日9时5分7秒, 2023年2月11日9时5分, 2023年2月11日9时, at midnight the date alone).
Text RunLogTimeStamp(const std::tm& when);

// The whole line RunLog appends for a message at a moment.
Text RunLogLine(const Text& message, const std::tm& when);

// Replaces the clock of the time stamps (tests); an empty function restores local time.
void SetRunLogClock(std::function<std::tm()> clock);

}  // namespace qj

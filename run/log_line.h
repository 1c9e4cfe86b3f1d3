#pragma once

#include <ctime>
#include <functional>

#include "text/types.h"

namespace qj {

// The lines of the run log: "【" + time stamp + "】 > > >  " + message + "\r\n". The time stamp
// is the date, then the time without trailing zero parts (2023年2月11日9时5分7秒, 2023年2月11日9时5分,
// 2023年2月11日9时, at midnight the date alone).
Text RunLogTimeStamp(const std::tm& when);

// The whole line for a message at a moment.
Text RunLogLine(const Text& message, const std::tm& when);

// The whole line for a message now (by the clock below). Any thread.
Text RunLogLineNow(const Text& message);

// The moment of "now" for the lines and for the names of run-log files: local time, unless a test
// replaced the clock; an empty function restores local time.
std::tm RunLogNow();
void SetRunLogClock(std::function<std::tm()> clock);

}  // namespace qj

#pragma once

#include <ctime>

namespace qj {

// The calendar fields of a moment in the machine's time zone; safe from any thread.
std::tm LocalTime(std::time_t when);

}  // namespace qj

#pragma once

#include <ctime>

namespace qj {

// The calendar fields of a moment in the machine's time zone; safe from any thread.
std::tm LocalTime(std::time_t when);

// The moment that calendar fields in UTC name; -1 when they name none.
std::time_t UtcMoment(std::tm utc);

}  // namespace qj

#include "platform/local_time.h"

namespace qj {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

// The C runtime's _mkgmtime knows no year after 3000; the calendar arithmetic is done here instead,
// with fields out of their range carried over as timegm does.
std::time_t UtcMoment(std::tm utc) {
    long long year = 1900LL + utc.tm_year + utc.tm_mon / 12;
    long long month = utc.tm_mon % 12;
    if (month < 0) {
        month += 12;
        --year;
    }
    // Days from 1970-01-01 to the first of the month (proleptic Gregorian calendar).
    const long long y = month < 2 ? year - 1 : year;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long shiftedMonth = month < 2 ? month + 10 : month - 2;
    const long long dayOfYear = (153 * shiftedMonth + 2) / 5;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097 + dayOfEra - 719468 + (utc.tm_mday - 1);
    return static_cast<std::time_t>(((days * 24 + utc.tm_hour) * 60 + utc.tm_min) * 60LL + utc.tm_sec);
}

}  // namespace qj

#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj::publishing {

// Times of a site's calendar are its wall-clock times, counted as seconds on a UTC calendar from
// 1970 (so that no time zone or daylight-saving rule of this machine enters).
inline constexpr long long kSecondsPerDay = 86400;

// "YYYY-MM-DD HH:MM:SS".
Text FormatSiteTime(long long seconds);
// Reads "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS" (the form WordPress writes); nullopt for
// anything else.
std::optional<long long> ParseSiteTime(std::string_view text);

// The part of each day in which scheduled posts appear, in minutes after midnight. An end before
// the start runs past midnight into the next day.
struct DailyWindow {
    int startMinute = 8 * 60;
    int endMinute = 22 * 60;

    int LengthMinutes() const;
};

// Reads "08:00-22:00" ("8-22", "8:30～23:00", full-width digits and colons, "24:00" as the end of
// the day); nullopt when it is not such a window or starts and ends at the same minute.
std::optional<DailyWindow> ParseDailyWindow(std::string_view text);

// The times of scheduled posts: `perDay` slots a day spread evenly over the window, each moved later
// by a small random offset (at most a fifth of the gap between slots, and at most ten minutes), so
// that the posts neither bunch nor fall on round minutes. The calendar continues strictly after
// `after` (the site's latest scheduled post, or now): the first slot is the first whose even time
// comes after it, so a calendar continued from its own last post takes up the very next slot.
class Calendar {
public:
    // `random01` gives numbers from 0 to 1 for the offsets.
    Calendar(int perDay, DailyWindow window, long long after, std::function<double()> random01);

    // The time of the next post. Not safe for use from several threads at once.
    long long Next();

    // The largest offset a slot is moved by, in seconds.
    long long MaxOffsetSeconds() const;

private:
    long long FirstSlotAfter(long long moment) const;

    int perDay_;
    DailyWindow window_;
    long long gapSeconds_;
    long long cursor_;
    std::function<double()> random01_;
};

}  // namespace qj::publishing

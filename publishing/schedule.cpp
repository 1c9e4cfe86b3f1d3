#include "publishing/schedule.h"

#include <algorithm>
#include <cstdio>

#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

constexpr long long kMaxOffsetSeconds = 600;

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar, and back (H. Hinnant's
// algorithms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

long long FloorDiv(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Reads the digits of text[at, at + count); -1 unless they are all digits.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return -1;
    }
    int value = 0;
    for (std::size_t k = at; k < at + count; ++k) {
        if (text[k] < '0' || text[k] > '9') {
            return -1;
        }
        value = value * 10 + (text[k] - '0');
    }
    return value;
}

// Full-width digits, colon, dash and tilde as their ASCII forms.
Text HalfWidth(std::string_view text) {
    Text out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        const auto b1 = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        char ascii = 0;
        if (b0 == 0xA3 && b1 >= 0xB0 && b1 <= 0xB9) {  // ０-９
            ascii = static_cast<char>('0' + (b1 - 0xB0));
        } else if (b0 == 0xA3 && b1 == 0xBA) {  // ：
            ascii = ':';
        } else if ((b0 == 0xA3 && b1 == 0xAD) || (b0 == 0xA1 && (b1 == 0xAB || b1 == 0xAA))) {  // － ～ —
            ascii = '-';
        }
        if (ascii != 0) {
            out.push_back(ascii);
            ++i;
        } else if (GbkUnitLength(text, i) == 2) {
            out.append(text.substr(i, 2));
            ++i;
        } else {
            out.push_back(b0 == '~' ? '-' : text[i]);
        }
    }
    return out;
}

// "8", "08", "8:30", "08:30" as minutes after midnight, up to 24:00; -1 otherwise.
int MinuteOfDay(std::string_view text) {
    text = TrimAscii(text, kSpaceAndTab);
    const std::size_t colon = text.find(':');
    const std::string_view hours = text.substr(0, colon);
    if (hours.empty() || hours.size() > 2) {
        return -1;
    }
    const int h = Digits(hours, 0, hours.size());
    int m = 0;
    if (colon != std::string_view::npos) {
        const std::string_view minutes = text.substr(colon + 1);
        m = minutes.size() == 2 ? Digits(minutes, 0, 2) : -1;
    }
    if (h < 0 || m < 0 || m > 59 || h > 24 || (h == 24 && m != 0)) {
        return -1;
    }
    return h * 60 + m;
}

}  // namespace

Text FormatSiteTime(long long seconds) {
    const long long days = FloorDiv(seconds, kSecondsPerDay);
    const long long rest = seconds - days * kSecondsPerDay;
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, rest / 3600,
                  rest / 60 % 60, rest % 60);
    return buffer;
}

std::optional<long long> ParseSiteTime(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != ' ' && text[10] != 'T') ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const int y = Digits(text, 0, 4);
    const int mo = Digits(text, 5, 2);
    const int d = Digits(text, 8, 2);
    const int h = Digits(text, 11, 2);
    const int mi = Digits(text, 14, 2);
    const int s = Digits(text, 17, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60) {
        return std::nullopt;
    }
    return DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kSecondsPerDay + h * 3600LL +
           mi * 60LL + s;
}

int DailyWindow::LengthMinutes() const {
    const int length = endMinute - startMinute;
    return length > 0 ? length : length + 24 * 60;
}

std::optional<DailyWindow> ParseDailyWindow(std::string_view text) {
    const Text plain = HalfWidth(TrimSpaces(text));
    const std::size_t dash = plain.find('-');
    if (dash == Text::npos) {
        return std::nullopt;
    }
    const int start = MinuteOfDay(std::string_view(plain).substr(0, dash));
    const int end = MinuteOfDay(std::string_view(plain).substr(dash + 1));
    if (start < 0 || end < 0 || start == 24 * 60 || start == end) {
        return std::nullopt;
    }
    return DailyWindow{start, end};
}

Calendar::Calendar(int perDay, DailyWindow window, long long after, std::function<double()> random01)
    : perDay_(std::max(perDay, 1)),
      window_(window),
      gapSeconds_(std::max<long long>(window.LengthMinutes() * 60LL / std::max(perDay, 1), 1)),
      cursor_(after),
      random01_(std::move(random01)) {}

long long Calendar::MaxOffsetSeconds() const {
    return std::min(gapSeconds_ / 5, kMaxOffsetSeconds);
}

long long Calendar::FirstSlotAfter(long long moment) const {
    // A window that runs past midnight holds slots of the day before; none of a day lies beyond the
    // first slot of the day after next.
    const long long today = FloorDiv(moment, kSecondsPerDay) * kSecondsPerDay;
    for (long long day = today - kSecondsPerDay;; day += kSecondsPerDay) {
        for (int k = 0; k < perDay_; ++k) {
            const long long slot = day + window_.startMinute * 60LL + k * gapSeconds_;
            if (slot > moment) {
                return slot;
            }
        }
    }
}

long long Calendar::Next() {
    const long long slot = FirstSlotAfter(cursor_);
    cursor_ = slot;
    const double r = std::clamp(random01_ ? random01_() : 0.0, 0.0, 1.0);
    return slot + static_cast<long long>(r * static_cast<double>(MaxOffsetSeconds()));
}

}  // namespace qj::publishing

#include "engine/core/ABSDateTime.h"

#include <cmath>

namespace kova {

namespace {

// Offset between the civil day count below (0 = 1970-01-01) and the engine's day number.
constexpr std::int64_t kCivilToEngine = 719163;

// Days since 1970-01-01 of a proleptic Gregorian date (valid for any year).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

static_assert(DaysFromCivil(1, 1, 1) + kCivilToEngine == 1);
static_assert(DaysFromCivil(1899, 12, 30) + kCivilToEngine == kDayFractionEpoch);

} // namespace

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<std::int32_t> TryEncodeDate(int year, int month, int day) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                     kCivilToEngine);
}

TDateParts DecodeDate(std::int32_t dayNumber) noexcept {
    const std::int64_t z = static_cast<std::int64_t>(dayNumber) - kCivilToEngine + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return TDateParts{static_cast<int>(y + (m <= 2 ? 1 : 0)), static_cast<int>(m), static_cast<int>(d)};
}

std::optional<std::int32_t> TryEncodeTime(int hour, int minute, int second, int millisecond) noexcept {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999) {
        return std::nullopt;
    }
    return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

TTimeParts DecodeTime(std::int32_t milliseconds) noexcept {
    std::int32_t ms = milliseconds % kMillisecondsPerDay;
    if (ms < 0) ms += kMillisecondsPerDay;
    TTimeParts parts;
    parts.millisecond = ms % 1000;
    ms /= 1000;
    parts.second = ms % 60;
    ms /= 60;
    parts.minute = ms % 60;
    parts.hour = ms / 60;
    return parts;
}

int DayOfWeekSundayFirst(std::int32_t dayNumber) noexcept {
    // Day 1 (1 January 0001) was a Monday.
    const int r = static_cast<int>(dayNumber % 7);
    return r < 0 ? r + 7 : r;
}

int DayOfYear(std::int32_t dayNumber) noexcept {
    const TDateParts parts = DecodeDate(dayNumber);
    return static_cast<int>(static_cast<std::int64_t>(dayNumber) - kCivilToEngine -
                            DaysFromCivil(parts.year, 1, 1)) + 1;
}

TABSDateTime NormalizeDateTime(std::int64_t days, std::int64_t milliseconds) noexcept {
    std::int64_t carry = milliseconds / kMillisecondsPerDay;
    milliseconds %= kMillisecondsPerDay;
    if (milliseconds < 0) {
        milliseconds += kMillisecondsPerDay;
        --carry;
    }
    return TABSDateTime{static_cast<std::int32_t>(static_cast<std::uint32_t>(days + carry)),
                        static_cast<std::int32_t>(milliseconds)};
}

TABSDateTime DayFractionToDateTime(double dayFraction) noexcept {
    // Beyond about two billion days the day number would overflow; such values have no calendar
    // meaning and give day 0 instead of undefined behaviour.
    if (!std::isfinite(dayFraction) || std::fabs(dayFraction) >= 2.0e9) return TABSDateTime{};
    const double whole = std::trunc(dayFraction);
    const double fraction = std::fabs(dayFraction - whole);
    auto date = static_cast<std::int32_t>(whole) + kDayFractionEpoch;
    auto time = static_cast<std::int32_t>(std::llround(fraction * kMillisecondsPerDay));
    if (time >= kMillisecondsPerDay) {
        // Rounding reached midnight: that is the start of the next calendar day, whichever side of
        // the epoch the value lies.
        ++date;
        time = 0;
    }
    return TABSDateTime{date, time};
}

double DateTimeToDayFraction(TABSDateTime value) noexcept {
    const double whole = static_cast<double>(value.date) - kDayFractionEpoch;
    const double fraction = static_cast<double>(value.time) / kMillisecondsPerDay;
    return whole >= 0 ? whole + fraction : whole - fraction;
}

} // namespace kova

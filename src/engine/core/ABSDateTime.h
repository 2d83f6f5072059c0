// Calendar arithmetic for the engine's date and time values.
//
// A date is a day number in the proleptic Gregorian calendar with 1 January 0001 as day 1; a time
// is milliseconds since midnight; a date-time is the pair. Outside the engine (field accessors,
// parameters) a date-time travels as a "day fraction": days since 30 December 1899 with the time
// of day as the fraction. For days before that epoch the fraction still counts forward from
// midnight (-1.25 is 29 December 1899, 06:00), which is why the conversions below treat the sign
// of the whole part and the fraction separately.
#pragma once

#include <cstdint>
#include <optional>

namespace kova {

// Engine day number of 30 December 1899, day 0 of the day-fraction form.
inline constexpr std::int32_t kDayFractionEpoch = 693594;
inline constexpr std::int32_t kMillisecondsPerDay = 86400000;

struct TABSDateTime {
    std::int32_t date = 0;  // day number
    std::int32_t time = 0;  // milliseconds since midnight

    friend bool operator==(const TABSDateTime&, const TABSDateTime&) = default;
};

struct TDateParts {
    int year = 0;
    int month = 0;
    int day = 0;
};

struct TTimeParts {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

[[nodiscard]] bool IsLeapYear(int year) noexcept;
[[nodiscard]] int DaysInMonth(int year, int month) noexcept;

// Day number of a calendar date; nothing for an impossible date (year 1..9999).
[[nodiscard]] std::optional<std::int32_t> TryEncodeDate(int year, int month, int day) noexcept;
// Calendar date of any day number (also of day numbers outside 1..9999-12-31).
[[nodiscard]] TDateParts DecodeDate(std::int32_t dayNumber) noexcept;

// Milliseconds since midnight; nothing for an impossible time.
[[nodiscard]] std::optional<std::int32_t> TryEncodeTime(int hour, int minute, int second, int millisecond) noexcept;
// Parts of a time; values outside one day are folded into it first.
[[nodiscard]] TTimeParts DecodeTime(std::int32_t milliseconds) noexcept;

// 0 = Sunday … 6 = Saturday.
[[nodiscard]] int DayOfWeekSundayFirst(std::int32_t dayNumber) noexcept;
// 1 = 1 January.
[[nodiscard]] int DayOfYear(std::int32_t dayNumber) noexcept;

// Day fraction ↔ engine date-time. The time is rounded to the nearest millisecond; a time that
// rounds up to a whole day moves to the next calendar day. A fraction that is not finite or
// lies beyond ±2·10^9 days gives {0, 0}.
[[nodiscard]] TABSDateTime DayFractionToDateTime(double dayFraction) noexcept;
[[nodiscard]] double DateTimeToDayFraction(TABSDateTime value) noexcept;

// Brings the milliseconds of a date-time back into one day, carrying whole days.
[[nodiscard]] TABSDateTime NormalizeDateTime(std::int64_t days, std::int64_t milliseconds) noexcept;

} // namespace kova

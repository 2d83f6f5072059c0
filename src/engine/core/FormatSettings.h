// The process's date, time and number formats, and the text conversions that use them.
//
// One settings object serves the whole process. It starts from the user's locale (LC_ALL, then
// LC_TIME / LC_NUMERIC, then LANG) and the application may replace it; the application sets
// "dd.mm.yyyy" and "hh:nn" at start-up. Readers take a snapshot (a shared pointer to an immutable
// object), so a change never tears a conversion that is running on another thread.
//
// Date and time format strings use the runtime's letters:
//   d dd        day without / with leading zero     ddd dddd   short / long weekday name
//   ddddd       the short date format               dddddd     the long date format
//   m mm        month (minutes right after h or hh) mmm mmmm   short / long month name
//   yy yyyy     year, 2 or 4 digits                 h hh       hour
//   n nn        minute                              s ss       second
//   z zzz       millisecond                         t tt       short / long time format
//   am/pm a/p ampm   12-hour clock with the marker  c          short date + long time (time
//   /           the date separator                             left out at midnight)
//   :           the time separator                  '…' "…"   literal text
#pragma once

#include "engine/core/ABSDateTime.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kova {

struct TFormatSettings {
    std::string ShortDateFormat = "yyyy-mm-dd";
    std::string LongDateFormat = "yyyy-mm-dd";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '-';
    char TimeSeparator = ':';
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    // Index 0 = January.
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",   "May",      "June",
                                               "July",    "August",   "September", "October", "November", "December"};
    // Index 0 = Sunday.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    // A two-digit year is placed within this many years before now (and the rest after).
    int TwoDigitYearCenturyWindow = 50;
};

// Settings derived from a locale name such as "de_DE" (ICU's locale data; the root locale for
// "", "C" and "POSIX").
[[nodiscard]] TFormatSettings FormatSettingsForLocale(std::string_view localeName);

// The locale named by the environment for a category ("LC_TIME", "LC_NUMERIC", "LC_COLLATE"):
// LC_ALL, then the category, then LANG; without encoding and modifier ("de_DE.UTF-8@euro" →
// "de_DE"); "" for the C and POSIX locales.
[[nodiscard]] std::string EnvironmentLocale(const char* category);

// The process-wide settings. The first call initialises them from the environment.
[[nodiscard]] std::shared_ptr<const TFormatSettings> GetFormatSettings();
void SetFormatSettings(TFormatSettings settings);
// Back to the environment's locale.
void ResetFormatSettings();

// ---- Dates and times as text --------------------------------------------------------------------

// Writes a date-time with a format string (letters above).
[[nodiscard]] std::string FormatDateTime(std::string_view format, TABSDateTime value, const TFormatSettings& fs);
// Short date format.
[[nodiscard]] std::string DateToStr(std::int32_t date, const TFormatSettings& fs);
// Long time format.
[[nodiscard]] std::string TimeToStr(std::int32_t time, const TFormatSettings& fs);
// Short date and long time format; the time is left out when it is midnight.
[[nodiscard]] std::string DateTimeToStr(TABSDateTime value, const TFormatSettings& fs);

// Reads a date in the order of the short date format, the numbers separated by the date
// separator; a missing year is the current year, a two-digit year uses the century window.
[[nodiscard]] std::optional<std::int32_t> TryStrToDate(std::string_view text, const TFormatSettings& fs);
// Reads hours, minutes and optional seconds and milliseconds separated by the time separator,
// optionally followed by the AM/PM marker.
[[nodiscard]] std::optional<std::int32_t> TryStrToTime(std::string_view text, const TFormatSettings& fs);
// A date, optionally followed by blanks and a time.
[[nodiscard]] std::optional<TABSDateTime> TryStrToDateTime(std::string_view text, const TFormatSettings& fs);

// The fixed forms "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD" and "HH:MM:SS" (every digit group of exactly
// the shown length; a group is ended by a blank, "-" or ":"; nothing after the last).
[[nodiscard]] std::optional<TABSDateTime> TryParseIsoDateTime(std::string_view text);
[[nodiscard]] std::optional<std::int32_t> TryParseIsoDate(std::string_view text);
[[nodiscard]] std::optional<std::int32_t> TryParseIsoTime(std::string_view text);

// ---- Numbers as text ----------------------------------------------------------------------------

// General format with up to 15 significant digits: fixed notation with trailing zeros removed
// when the decimal exponent is between -5 and 14, else "d.dddE±x" without a "+" and without
// leading exponent zeros ("1E20", "1.5E-7"); "NAN", "INF", "-INF".
[[nodiscard]] std::string FloatToStr(long double value, char decimalSeparator);
[[nodiscard]] std::string FloatToStr(long double value, const TFormatSettings& fs);

// Decimal number with "." as separator whatever the locale (optional blanks around, optional
// sign, digits with an optional fraction, optional exponent). Nothing for anything else and for
// a value outside the range of long double.
[[nodiscard]] std::optional<long double> TryTextToFloat(std::string_view text);
// The same with another decimal separator (which replaces "." entirely).
[[nodiscard]] std::optional<long double> TryTextToFloat(std::string_view text, char decimalSeparator);
// The same syntax read straight into double or float precision (one rounding, not two); nothing
// also when the value is outside that type's range.
[[nodiscard]] std::optional<double> TryTextToDouble(std::string_view text, char decimalSeparator = '.');
[[nodiscard]] std::optional<float> TryTextToSingle(std::string_view text, char decimalSeparator = '.');

// Decimal integer (optional leading blanks, optional sign, digits) or hexadecimal with a "$" or
// "0x" prefix. Nothing on syntax errors and on values outside int64 (hexadecimal may use all 64
// bits, so "$FFFFFFFFFFFFFFFF" is -1).
[[nodiscard]] std::optional<std::int64_t> TryStrToInt64(std::string_view text);
// The same limited to 32 bits: a decimal value must lie in -2^31 … 2^31-1 (or up to 2^32-1 when
// `allowUnsigned`), a hexadecimal one within 32 bits.
[[nodiscard]] std::optional<std::int64_t> TryStrToInt32(std::string_view text, bool allowUnsigned = false);

} // namespace kova

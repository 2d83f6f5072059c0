#include "engine/core/FormatSettings.h"

#include "engine/core/TextCodec.h"

#include <unicode/udat.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace kova {

// ---- Settings from the locale -------------------------------------------------------------------

namespace {

bool IsAsciiLetter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char AsciiUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string FromUChars(const UChar* text, int32_t length) {
    if (length <= 0) return {};
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length)));
}

// Converts a locale date pattern (letters repeated for width, text in apostrophes) into the
// runtime's format letters. `widenYear` turns a two-digit year into four digits: a short date
// format with a two-digit year would make every stored date ambiguous on input.
std::string PatternToFormat(const std::string& pattern, bool widenYear) {
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            // Quoted literal; '' stands for one apostrophe.
            std::string literal;
            ++i;
            while (i < pattern.size()) {
                if (pattern[i] == '\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                        literal += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal += pattern[i++];
            }
            if (!literal.empty()) out += '"' + literal + '"';
            continue;
        }
        if (!IsAsciiLetter(c)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x80) {
                // Non-ASCII characters in patterns are (narrow) no-break spaces: one blank.
                std::size_t end = i + 1;
                while (end < pattern.size() && (static_cast<unsigned char>(pattern[end]) & 0xC0) == 0x80) ++end;
                out += ' ';
                i = end;
            } else {
                out += c;
                ++i;
            }
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        i += run;
        switch (c) {
        case 'y':
        case 'u':
        case 'Y':
            out += run == 2 && !widenYear ? "yy" : "yyyy";
            break;
        case 'M':
        case 'L':
            out += run == 1 ? "m" : run == 2 ? "mm" : run == 3 ? "mmm" : "mmmm";
            break;
        case 'd':
            out += run == 1 ? "d" : "dd";
            break;
        case 'E':
        case 'c':
        case 'e':
            out += run <= 3 ? "ddd" : "dddd";
            break;
        case 'H':
        case 'k':
        case 'h':
        case 'K':
            out += run == 1 ? "h" : "hh";
            break;
        case 'm':
            out += run == 1 ? "n" : "nn";
            break;
        case 's':
            out += run == 1 ? "s" : "ss";
            break;
        case 'S':
            out += run == 1 ? "z" : "zzz";
            break;
        case 'a':
        case 'b':
        case 'B':
            out += "ampm";
            break;
        default:
            break;  // era, time zone and the like have no runtime letter
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

// First separator character of a format outside quotes and letters.
char SeparatorOf(const std::string& format, char fallback) {
    bool quoted = false;
    char quote = 0;
    for (char c : format) {
        if (quoted) {
            if (c == quote) quoted = false;
            continue;
        }
        if (c == '"' || c == '\'') {
            quoted = true;
            quote = c;
            continue;
        }
        if (!IsAsciiLetter(c) && c != ' ' && static_cast<unsigned char>(c) < 0x80) return c;
    }
    return fallback;
}

struct DateFormatCloser {
    void operator()(UDateFormat* f) const noexcept { udat_close(f); }
};
using DateFormatPtr = std::unique_ptr<UDateFormat, DateFormatCloser>;

struct NumberFormatCloser {
    void operator()(UNumberFormat* f) const noexcept { unum_close(f); }
};
using NumberFormatPtr = std::unique_ptr<UNumberFormat, NumberFormatCloser>;

DateFormatPtr OpenDateFormat(UDateFormatStyle timeStyle, UDateFormatStyle dateStyle, const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    static const UChar kUtc[] = {u'U', u'T', u'C', 0};
    DateFormatPtr f(udat_open(timeStyle, dateStyle, locale, kUtc, -1, nullptr, 0, &status));
    if (U_FAILURE(status)) return nullptr;
    return f;
}

std::string PatternOf(UDateFormatStyle timeStyle, UDateFormatStyle dateStyle, const char* locale) {
    DateFormatPtr f = OpenDateFormat(timeStyle, dateStyle, locale);
    if (!f) return {};
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = udat_toPattern(f.get(), false, buffer, 256, &status);
    if (U_FAILURE(status)) return {};
    return FromUChars(buffer, std::min<int32_t>(length, 256));
}

std::string SymbolOf(const UDateFormat* f, UDateFormatSymbolType type, int32_t index) {
    UChar buffer[128];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = udat_getSymbols(f, type, index, buffer, 128, &status);
    if (U_FAILURE(status)) return {};
    return FromUChars(buffer, std::min<int32_t>(length, 128));
}

char NumberSymbolOf(const UNumberFormat* f, UNumberFormatSymbol symbol, char fallback) {
    UChar buffer[16];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = unum_getSymbol(f, symbol, buffer, 16, &status);
    if (U_FAILURE(status) || length != 1) return fallback;
    if (buffer[0] < 0x80) return static_cast<char>(buffer[0]);
    // A no-break space as grouping separator is a blank in an 8-bit setting.
    if (buffer[0] == 0x00A0 || buffer[0] == 0x202F) return ' ';
    return fallback;
}

} // namespace

TFormatSettings FormatSettingsForLocale(std::string_view localeName) {
    TFormatSettings fs;
    std::string locale(localeName);
    if (locale == "C" || locale == "POSIX") locale.clear();
    const char* loc = locale.c_str();

    if (std::string p = PatternOf(UDAT_NONE, UDAT_SHORT, loc); !p.empty()) fs.ShortDateFormat = PatternToFormat(p, true);
    if (std::string p = PatternOf(UDAT_NONE, UDAT_LONG, loc); !p.empty()) fs.LongDateFormat = PatternToFormat(p, false);
    if (std::string p = PatternOf(UDAT_SHORT, UDAT_NONE, loc); !p.empty()) fs.ShortTimeFormat = PatternToFormat(p, false);
    if (std::string p = PatternOf(UDAT_MEDIUM, UDAT_NONE, loc); !p.empty()) fs.LongTimeFormat = PatternToFormat(p, false);
    fs.DateSeparator = SeparatorOf(fs.ShortDateFormat, fs.DateSeparator);
    fs.TimeSeparator = SeparatorOf(fs.LongTimeFormat, fs.TimeSeparator);

    // The root locale's names are placeholders ("M03"); the English defaults read better.
    DateFormatPtr f = locale.empty() ? nullptr : OpenDateFormat(UDAT_SHORT, UDAT_SHORT, loc);
    if (f) {
        for (int32_t m = 0; m < 12; ++m) {
            if (std::string s = SymbolOf(f.get(), UDAT_SHORT_MONTHS, m); !s.empty()) fs.ShortMonthNames[m] = s;
            if (std::string s = SymbolOf(f.get(), UDAT_MONTHS, m); !s.empty()) fs.LongMonthNames[m] = s;
        }
        // Weekday symbols are indexed 1 (Sunday) … 7.
        for (int32_t d = 0; d < 7; ++d) {
            if (std::string s = SymbolOf(f.get(), UDAT_SHORT_WEEKDAYS, d + 1); !s.empty()) fs.ShortDayNames[d] = s;
            if (std::string s = SymbolOf(f.get(), UDAT_WEEKDAYS, d + 1); !s.empty()) fs.LongDayNames[d] = s;
        }
        if (std::string s = SymbolOf(f.get(), UDAT_AM_PMS, 0); !s.empty()) fs.TimeAMString = s;
        if (std::string s = SymbolOf(f.get(), UDAT_AM_PMS, 1); !s.empty()) fs.TimePMString = s;
    }

    UErrorCode status = U_ZERO_ERROR;
    NumberFormatPtr nf(unum_open(UNUM_DECIMAL, nullptr, 0, loc, nullptr, &status));
    if (U_SUCCESS(status) && nf) {
        fs.DecimalSeparator = NumberSymbolOf(nf.get(), UNUM_DECIMAL_SEPARATOR_SYMBOL, '.');
        fs.ThousandSeparator = NumberSymbolOf(nf.get(), UNUM_GROUPING_SEPARATOR_SYMBOL, ',');
    }
    return fs;
}

std::string EnvironmentLocale(const char* category) {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", category, "LANG"}) {
        const char* v = name != nullptr ? std::getenv(name) : nullptr;
        if (v != nullptr && *v != '\0') {
            value = v;
            break;
        }
    }
    if (value == nullptr) return {};
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") return {};
    return locale;
}

namespace {

std::mutex gSettingsMutex;
std::shared_ptr<const TFormatSettings> gSettings;

std::shared_ptr<const TFormatSettings> SettingsFromEnvironment() {
    TFormatSettings fs = FormatSettingsForLocale(EnvironmentLocale("LC_TIME"));
    const TFormatSettings numbers = FormatSettingsForLocale(EnvironmentLocale("LC_NUMERIC"));
    fs.DecimalSeparator = numbers.DecimalSeparator;
    fs.ThousandSeparator = numbers.ThousandSeparator;
    return std::make_shared<const TFormatSettings>(std::move(fs));
}

} // namespace

std::shared_ptr<const TFormatSettings> GetFormatSettings() {
    std::lock_guard lock(gSettingsMutex);
    if (!gSettings) gSettings = SettingsFromEnvironment();
    return gSettings;
}

void SetFormatSettings(TFormatSettings settings) {
    auto fresh = std::make_shared<const TFormatSettings>(std::move(settings));
    std::lock_guard lock(gSettingsMutex);
    gSettings = std::move(fresh);
}

void ResetFormatSettings() {
    auto fresh = SettingsFromEnvironment();
    std::lock_guard lock(gSettingsMutex);
    gSettings = std::move(fresh);
}

// ---- Formatting dates and times -----------------------------------------------------------------

namespace {

void AppendNumber(std::string& out, long value, int minDigits) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    const auto length = static_cast<int>(end - buffer);
    if (ec == std::errc{} && value >= 0 && length < minDigits) out.append(static_cast<std::size_t>(minDigits - length), '0');
    out.append(buffer, end);
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view word) {
    if (pos + word.size() > text.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (AsciiUpper(text[pos + i]) != AsciiUpper(word[i])) return false;
    }
    return true;
}

// Whether an AM/PM marker follows in the rest of the format (outside quotes): then hours are
// written on the 12-hour clock.
bool Uses12HourClock(std::string_view format, std::size_t from) {
    for (std::size_t i = from; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '"' || c == '\'') {
            const auto close = format.find(c, i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
            continue;
        }
        if (StartsWithNoCase(format, i, "am/pm") || StartsWithNoCase(format, i, "a/p") ||
            StartsWithNoCase(format, i, "ampm")) {
            return true;
        }
    }
    return false;
}

class DateTimeWriter {
public:
    DateTimeWriter(TABSDateTime value, const TFormatSettings& fs)
        : fs_(fs), date_(DecodeDate(value.date)), time_(DecodeTime(value.time)), value_(value) {}

    void Write(std::string& out, std::string_view format, int depth) {
        // Nested formats ("ddddd", "t", "c") cannot recurse forever, but a settings object whose
        // short date format contains "ddddd" would: stop at a small depth.
        if (depth > 3) return;
        char lastToken = 0;
        std::size_t i = 0;
        while (i < format.size()) {
            const char c = format[i];
            const char u = AsciiUpper(c);
            if (c == '"' || c == '\'') {
                const auto close = format.find(c, i + 1);
                const auto end = close == std::string_view::npos ? format.size() : close;
                out.append(format.substr(i + 1, end - i - 1));
                i = end == format.size() ? end : end + 1;
                continue;
            }
            if (c == '/') {
                out += fs_.DateSeparator;
                ++i;
                continue;
            }
            if (c == ':') {
                out += fs_.TimeSeparator;
                ++i;
                continue;
            }
            if (u == 'A') {
                if (WriteMarker(out, format, i)) {
                    lastToken = 'A';
                    continue;
                }
                out += c;
                ++i;
                continue;
            }
            if (!IsAsciiLetter(c) || std::string_view("YMDHNSZTCG").find(u) == std::string_view::npos) {
                out += c;
                ++i;
                continue;
            }
            std::size_t run = 1;
            while (i + run < format.size() && AsciiUpper(format[i + run]) == u) ++run;
            const std::size_t start = i;
            i += run;
            switch (u) {
            case 'Y':
                if (run <= 2) {
                    AppendNumber(out, date_.year % 100, 2);
                } else {
                    AppendNumber(out, date_.year, 4);
                }
                break;
            case 'G':
                break;  // era: not written
            case 'M':
                if (lastToken == 'H' && run <= 2) {
                    AppendNumber(out, time_.minute, static_cast<int>(run));
                    lastToken = 'N';
                    continue;
                }
                if (run <= 2) {
                    AppendNumber(out, date_.month, static_cast<int>(run));
                } else {
                    out += (run == 3 ? fs_.ShortMonthNames : fs_.LongMonthNames)[static_cast<std::size_t>(date_.month - 1)];
                }
                break;
            case 'D':
                if (run <= 2) {
                    AppendNumber(out, date_.day, static_cast<int>(run));
                } else if (run <= 4) {
                    const auto weekday = static_cast<std::size_t>(DayOfWeekSundayFirst(value_.date));
                    out += (run == 3 ? fs_.ShortDayNames : fs_.LongDayNames)[weekday];
                } else {
                    Write(out, run == 5 ? fs_.ShortDateFormat : fs_.LongDateFormat, depth + 1);
                }
                break;
            case 'H': {
                int hour = time_.hour;
                if (Uses12HourClock(format, start)) {
                    hour %= 12;
                    if (hour == 0) hour = 12;
                }
                AppendNumber(out, hour, run >= 2 ? 2 : 1);
                break;
            }
            case 'N':
                AppendNumber(out, time_.minute, run >= 2 ? 2 : 1);
                break;
            case 'S':
                AppendNumber(out, time_.second, run >= 2 ? 2 : 1);
                break;
            case 'Z':
                AppendNumber(out, time_.millisecond, run >= 2 ? 3 : 1);
                break;
            case 'T':
                Write(out, run == 1 ? fs_.ShortTimeFormat : fs_.LongTimeFormat, depth + 1);
                break;
            case 'C':
                Write(out, fs_.ShortDateFormat, depth + 1);
                if (value_.time != 0) {
                    out += ' ';
                    Write(out, fs_.LongTimeFormat, depth + 1);
                }
                break;
            default:
                break;
            }
            lastToken = u;
        }
    }

private:
    // "am/pm", "a/p" or "ampm" at `i`; advances past it.
    bool WriteMarker(std::string& out, std::string_view format, std::size_t& i) const {
        const bool pm = time_.hour >= 12;
        if (StartsWithNoCase(format, i, "am/pm")) {
            const std::string_view written = format.substr(pm ? i + 3 : i, 2);
            // The case of the letters in the format is the case of the output.
            out += written;
            i += 5;
            return true;
        }
        if (StartsWithNoCase(format, i, "a/p")) {
            out += pm ? format[i + 2] : format[i];
            i += 3;
            return true;
        }
        if (StartsWithNoCase(format, i, "ampm")) {
            out += pm ? fs_.TimePMString : fs_.TimeAMString;
            i += 4;
            return true;
        }
        return false;
    }

    const TFormatSettings& fs_;
    TDateParts date_;
    TTimeParts time_;
    TABSDateTime value_;
};

} // namespace

std::string FormatDateTime(std::string_view format, TABSDateTime value, const TFormatSettings& fs) {
    std::string out;
    DateTimeWriter(value, fs).Write(out, format, 0);
    return out;
}

std::string DateToStr(std::int32_t date, const TFormatSettings& fs) {
    return FormatDateTime(fs.ShortDateFormat, TABSDateTime{date, 0}, fs);
}

std::string TimeToStr(std::int32_t time, const TFormatSettings& fs) {
    return FormatDateTime(fs.LongTimeFormat, TABSDateTime{kDayFractionEpoch, time}, fs);
}

std::string DateTimeToStr(TABSDateTime value, const TFormatSettings& fs) { return FormatDateTime("c", value, fs); }

// ---- Parsing dates and times --------------------------------------------------------------------

namespace {

// A cursor over the text being parsed.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    }
    [[nodiscard]] bool AtEnd() const { return pos_ >= text_.size(); }

    // Up to 9 decimal digits; `digits` receives their count.
    [[nodiscard]] bool Number(int& value, int& digits) {
        SkipBlanks();
        value = 0;
        digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && digits < 9) {
            value = value * 10 + (text_[pos_] - '0');
            ++digits;
            ++pos_;
        }
        return digits > 0;
    }

    [[nodiscard]] bool Char(char c) {
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // Case-insensitive word (the AM/PM markers).
    [[nodiscard]] bool Word(std::string_view word) {
        SkipBlanks();
        if (word.empty() || !StartsWithNoCase(text_, pos_, word)) return false;
        pos_ += word.size();
        return true;
    }

    [[nodiscard]] std::size_t Position() const { return pos_; }
    void SetPosition(std::size_t pos) { pos_ = pos; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

int CurrentYear() {
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    return static_cast<int>(std::chrono::year_month_day(today).year());
}

// Order of day, month and year in a date format.
enum class DateOrder { MDY, DMY, YMD };

DateOrder OrderOf(std::string_view format) {
    for (char c : format) {
        switch (AsciiUpper(c)) {
        case 'Y':
            return DateOrder::YMD;
        case 'M':
            return DateOrder::MDY;
        case 'D':
            return DateOrder::DMY;
        default:
            break;
        }
    }
    return DateOrder::MDY;
}

std::optional<std::int32_t> ScanDate(Scanner& s, const TFormatSettings& fs) {
    int n1 = 0, n2 = 0, n3 = 0, l1 = 0, l2 = 0, l3 = 0;
    const DateOrder order = OrderOf(fs.ShortDateFormat);
    if (!s.Number(n1, l1) || !s.Char(fs.DateSeparator) || !s.Number(n2, l2)) return std::nullopt;
    int year = 0, month = 0, day = 0, yearDigits = 0;
    if (s.Char(fs.DateSeparator)) {
        if (!s.Number(n3, l3)) return std::nullopt;
        switch (order) {
        case DateOrder::MDY: month = n1; day = n2; year = n3; yearDigits = l3; break;
        case DateOrder::DMY: day = n1; month = n2; year = n3; yearDigits = l3; break;
        case DateOrder::YMD: year = n1; yearDigits = l1; month = n2; day = n3; break;
        }
        if (yearDigits <= 2 && year <= 99) {
            const int now = CurrentYear();
            const int century = now - fs.TwoDigitYearCenturyWindow;
            year += century / 100 * 100;
            if (fs.TwoDigitYearCenturyWindow > 0 && year < century) year += 100;
        }
    } else {
        // Two numbers: day and month in the format's order, the year is this year.
        year = CurrentYear();
        if (order == DateOrder::DMY) {
            day = n1;
            month = n2;
        } else {
            month = n1;
            day = n2;
        }
    }
    return TryEncodeDate(year, month, day);
}

std::optional<std::int32_t> ScanTime(Scanner& s, const TFormatSettings& fs) {
    int hour = 0, minute = 0, second = 0, ms = 0, digits = 0;
    if (!s.Number(hour, digits)) return std::nullopt;
    bool hasMinutes = false;
    if (s.Char(fs.TimeSeparator)) {
        if (!s.Number(minute, digits)) return std::nullopt;
        hasMinutes = true;
        if (s.Char(fs.TimeSeparator)) {
            if (!s.Number(second, digits)) return std::nullopt;
            if (s.Char(fs.DecimalSeparator) || (fs.DecimalSeparator != '.' && s.Char('.'))) {
                if (!s.Number(ms, digits) || digits > 3) return std::nullopt;
            }
        }
    }
    int marker = 0;  // 1 AM, 2 PM
    if (s.Word(fs.TimeAMString) || s.Word("AM")) {
        marker = 1;
    } else if (s.Word(fs.TimePMString) || s.Word("PM")) {
        marker = 2;
    }
    if (!hasMinutes && marker == 0) return std::nullopt;
    if (marker != 0) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour %= 12;
        if (marker == 2) hour += 12;
    }
    return TryEncodeTime(hour, minute, second, ms);
}

// A digit group of exactly `length` digits.
bool IsoGroup(std::string_view text, std::size_t& pos, std::size_t length, int& value) {
    if (pos + length > text.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += length;
    return true;
}

// Parses groups of the given lengths; every group but the last is ended by a blank, "-" or ":",
// the last by the end of the text.
template <std::size_t N>
bool IsoGroups(std::string_view text, const std::size_t (&lengths)[N], int (&values)[N]) {
    std::size_t pos = 0;
    for (std::size_t g = 0; g < N; ++g) {
        if (!IsoGroup(text, pos, lengths[g], values[g])) return false;
        if (g + 1 < N) {
            if (pos >= text.size() || (text[pos] != ' ' && text[pos] != '-' && text[pos] != ':')) return false;
            ++pos;
        }
    }
    return pos == text.size();
}

} // namespace

std::optional<std::int32_t> TryStrToDate(std::string_view text, const TFormatSettings& fs) {
    Scanner s(text);
    const auto date = ScanDate(s, fs);
    s.SkipBlanks();
    if (!date || !s.AtEnd()) return std::nullopt;
    return date;
}

std::optional<std::int32_t> TryStrToTime(std::string_view text, const TFormatSettings& fs) {
    Scanner s(text);
    const auto time = ScanTime(s, fs);
    s.SkipBlanks();
    if (!time || !s.AtEnd()) return std::nullopt;
    return time;
}

std::optional<TABSDateTime> TryStrToDateTime(std::string_view text, const TFormatSettings& fs) {
    Scanner s(text);
    if (const auto date = ScanDate(s, fs)) {
        s.SkipBlanks();
        if (s.AtEnd()) return TABSDateTime{*date, 0};
        const auto time = ScanTime(s, fs);
        s.SkipBlanks();
        if (!time || !s.AtEnd()) return std::nullopt;
        return TABSDateTime{*date, *time};
    }
    // A time alone lies on day 0 of the day-fraction form.
    if (const auto time = TryStrToTime(text, fs)) return TABSDateTime{kDayFractionEpoch, *time};
    return std::nullopt;
}

std::optional<TABSDateTime> TryParseIsoDateTime(std::string_view text) {
    static constexpr std::size_t kLengths[6] = {4, 2, 2, 2, 2, 2};
    int v[6];
    if (!IsoGroups(text, kLengths, v)) return std::nullopt;
    const auto date = TryEncodeDate(v[0], v[1], v[2]);
    const auto time = TryEncodeTime(v[3], v[4], v[5], 0);
    if (!date || !time) return std::nullopt;
    return TABSDateTime{*date, *time};
}

std::optional<std::int32_t> TryParseIsoDate(std::string_view text) {
    static constexpr std::size_t kLengths[3] = {4, 2, 2};
    int v[3];
    if (!IsoGroups(text, kLengths, v)) return std::nullopt;
    return TryEncodeDate(v[0], v[1], v[2]);
}

std::optional<std::int32_t> TryParseIsoTime(std::string_view text) {
    static constexpr std::size_t kLengths[3] = {2, 2, 2};
    int v[3];
    if (!IsoGroups(text, kLengths, v)) return std::nullopt;
    return TryEncodeTime(v[0], v[1], v[2], 0);
}

// ---- Numbers ------------------------------------------------------------------------------------

std::string FloatToStr(long double value, char decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (ec != std::errc{}) return "0";
    std::string text(buffer, end);
    std::string exponent;
    if (const auto e = text.find('e'); e != std::string::npos) {
        std::string_view digits(text);
        digits.remove_prefix(e + 1);
        bool negative = false;
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
            negative = digits.front() == '-';
            digits.remove_prefix(1);
        }
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        exponent = std::string("E") + (negative ? "-" : "") + std::string(digits);
        text.resize(e);
    }
    if (const auto dot = text.find('.'); dot != std::string::npos) text[dot] = decimalSeparator;
    return text + exponent;
}

std::string FloatToStr(long double value, const TFormatSettings& fs) { return FloatToStr(value, fs.DecimalSeparator); }

namespace {

// Checks the number syntax and rewrites it for from_chars: "." as separator, no "+" sign, no
// blanks. Nothing when the text is not a number.
std::optional<std::string> NormalizeFloatText(std::string_view text, char decimalSeparator) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::string normal;
    normal.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') normal += '-';
        ++i;
    }
    std::size_t mantissaDigits = 0;
    bool seenSeparator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            normal += c;
            ++mantissaDigits;
        } else if (c == decimalSeparator && !seenSeparator) {
            normal += '.';
            seenSeparator = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
        std::size_t exponentDigits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++exponentDigits) normal += text[i];
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return normal;
}

template <typename T>
std::optional<T> ParseFloat(std::string_view text, char decimalSeparator) {
    const auto normal = NormalizeFloatText(text, decimalSeparator);
    if (!normal) return std::nullopt;
    T value = 0;
    const char* last = normal->data() + normal->size();
    const auto [end, ec] = std::from_chars(normal->data(), last, value);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return value;
}

} // namespace

std::optional<long double> TryTextToFloat(std::string_view text, char decimalSeparator) {
    return ParseFloat<long double>(text, decimalSeparator);
}

std::optional<double> TryTextToDouble(std::string_view text, char decimalSeparator) {
    return ParseFloat<double>(text, decimalSeparator);
}

std::optional<float> TryTextToSingle(std::string_view text, char decimalSeparator) {
    return ParseFloat<float>(text, decimalSeparator);
}

std::optional<long double> TryTextToFloat(std::string_view text) { return TryTextToFloat(text, '.'); }

namespace {

// Sign and magnitude of an integer text; `hex` tells which notation it used.
bool ParseIntegerText(std::string_view text, bool& negative, std::uint64_t& magnitude, bool& hex) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return false;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, magnitude, hex ? 16 : 10);
    return ec == std::errc{} && end == last;
}

} // namespace

std::optional<std::int64_t> TryStrToInt64(std::string_view text) {
    bool negative = false, hex = false;
    std::uint64_t magnitude = 0;
    if (!ParseIntegerText(text, negative, magnitude, hex)) return std::nullopt;
    if (!hex) {
        const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
        if (magnitude > limit) return std::nullopt;
    }
    const std::uint64_t bits = negative ? 0 - magnitude : magnitude;
    return static_cast<std::int64_t>(bits);
}

std::optional<std::int64_t> TryStrToInt32(std::string_view text, bool allowUnsigned) {
    bool negative = false, hex = false;
    std::uint64_t magnitude = 0;
    if (!ParseIntegerText(text, negative, magnitude, hex)) return std::nullopt;
    if (hex) {
        if (magnitude > 0xFFFFFFFFULL) return std::nullopt;
        auto bits = static_cast<std::uint32_t>(magnitude);
        if (negative) bits = 0U - bits;
        return allowUnsigned ? static_cast<std::int64_t>(bits) : static_cast<std::int64_t>(static_cast<std::int32_t>(bits));
    }
    const std::uint64_t limit = negative ? 2147483648ULL : (allowUnsigned ? 4294967295ULL : 2147483647ULL);
    if (magnitude > limit) return std::nullopt;
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

} // namespace kova

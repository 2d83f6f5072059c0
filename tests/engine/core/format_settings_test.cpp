// Process formats, date and time text, number text and the day-fraction form.
#include "engine/core/ABSDateTime.h"
#include "engine/core/FormatSettings.h"

#include "ValueTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kova {
namespace {

std::int32_t Day(int y, int m, int d) { return *TryEncodeDate(y, m, d); }
std::int32_t Ms(int h, int n, int s, int ms = 0) { return *TryEncodeTime(h, n, s, ms); }

int ThisYear() {
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    return static_cast<int>(std::chrono::year_month_day(today).year());
}

TEST(Calendar, DayNumbersOfKnownDates) {
    struct Case {
        int y, m, d;
        std::int32_t day;
    };
    const Case cases[] = {
        {1, 1, 1, 1},
        {1899, 12, 30, kDayFractionEpoch},
        {1900, 1, 1, kDayFractionEpoch + 2},
        {2011, 3, 24, kDayFractionEpoch + 40626},
        {2000, 2, 29, kDayFractionEpoch + 36585},
        {9999, 12, 31, 3652059},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d), c.day) << c.y << '-' << c.m << '-' << c.d;
        const TDateParts parts = DecodeDate(c.day);
        EXPECT_EQ(parts.year, c.y);
        EXPECT_EQ(parts.month, c.m);
        EXPECT_EQ(parts.day, c.d);
    }
}

TEST(Calendar, RejectsImpossibleDatesAndTimes) {
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29));
    EXPECT_FALSE(TryEncodeDate(2011, 4, 31));
    EXPECT_FALSE(TryEncodeDate(2011, 13, 1));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0));
    EXPECT_FALSE(TryEncodeTime(12, 60, 0, 0));
    EXPECT_FALSE(TryEncodeTime(12, 0, 0, 1000));
    EXPECT_EQ(TryEncodeTime(23, 59, 59, 999), kMillisecondsPerDay - 1);
}

TEST(Calendar, WeekdayAndDayOfYear) {
    EXPECT_EQ(DayOfWeekSundayFirst(Day(2011, 3, 24)), 4);  // a Thursday
    EXPECT_EQ(DayOfWeekSundayFirst(Day(1899, 12, 30)), 6);  // a Saturday
    EXPECT_EQ(DayOfYear(Day(2011, 3, 24)), 83);
    EXPECT_EQ(DayOfYear(Day(2012, 12, 31)), 366);
}

TEST(DayFraction, ConvertsBothWays) {
    struct Case {
        double fraction;
        std::int32_t date;
        std::int32_t time;
    };
    const Case cases[] = {
        {0.0, kDayFractionEpoch, 0},
        {40626.5, Day(2011, 3, 24), Ms(12, 0, 0)},
        {40626.0 + 14.0 / 24 + 5.0 / 1440, Day(2011, 3, 24), Ms(14, 5, 0)},
        // Before the epoch the fraction still counts forward from midnight.
        {-1.25, Day(1899, 12, 29), Ms(6, 0, 0)},
        {-693593.0, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DayFractionToDateTime(c.fraction), (TABSDateTime{c.date, c.time})) << c.fraction;
        EXPECT_NEAR(DateTimeToDayFraction(TABSDateTime{c.date, c.time}), c.fraction, 1e-9) << c.fraction;
    }
}

TEST(DayFraction, RoundsToTheMillisecondAndCarriesMidnight) {
    EXPECT_EQ(DayFractionToDateTime(40626.0 + 0.4 / kMillisecondsPerDay).time, 0);
    EXPECT_EQ(DayFractionToDateTime(40626.0 + 0.6 / kMillisecondsPerDay).time, 1);
    // Within half a millisecond of midnight is the next day at 00:00.
    EXPECT_EQ(DayFractionToDateTime(40626.9999999999), (TABSDateTime{Day(2011, 3, 25), 0}));
}

TEST(DateTime, NormalizeCarriesAndBorrowsWholeDays) {
    EXPECT_EQ(NormalizeDateTime(10, kMillisecondsPerDay), (TABSDateTime{11, 0}));
    EXPECT_EQ(NormalizeDateTime(10, 2LL * kMillisecondsPerDay + 5), (TABSDateTime{12, 5}));
    EXPECT_EQ(NormalizeDateTime(10, -1), (TABSDateTime{9, kMillisecondsPerDay - 1}));
    EXPECT_EQ(NormalizeDateTime(10, kMillisecondsPerDay - 1), (TABSDateTime{10, kMillisecondsPerDay - 1}));
}

TEST(LocaleSettings, GermanLocaleGivesGermanFormats) {
    const TFormatSettings fs = FormatSettingsForLocale("de_DE");
    EXPECT_EQ(fs.ShortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(fs.ShortTimeFormat, "hh:nn");
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.DateSeparator, '.');
    EXPECT_EQ(fs.TimeSeparator, ':');
    EXPECT_EQ(fs.LongMonthNames[2], "März");
    EXPECT_EQ(fs.LongDayNames[4], "Donnerstag");
}

TEST(LocaleSettings, OtherLocales) {
    const TFormatSettings us = FormatSettingsForLocale("en_US");
    EXPECT_EQ(us.ShortDateFormat, "m/d/yyyy");
    EXPECT_EQ(us.DecimalSeparator, '.');
    EXPECT_EQ(us.DateSeparator, '/');
    EXPECT_EQ(us.ShortTimeFormat, "h:nn ampm");
    const TFormatSettings c = FormatSettingsForLocale("C");
    EXPECT_EQ(c.ShortDateFormat, "yyyy-mm-dd");
    EXPECT_EQ(c.DecimalSeparator, '.');
    EXPECT_EQ(c.LongMonthNames[2], "March");
}

class EnvironmentLocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i]) {
                setenv(kNames[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }
    static constexpr const char* kNames[] = {"LC_ALL", "LC_TIME", "LC_COLLATE", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(EnvironmentLocaleTest, TakesLcAllThenCategoryThenLang) {
    EXPECT_EQ(EnvironmentLocale("LC_TIME"), "");
    setenv("LANG", "en_GB.UTF-8", 1);
    EXPECT_EQ(EnvironmentLocale("LC_TIME"), "en_GB");
    setenv("LC_TIME", "de_AT.UTF-8@euro", 1);
    EXPECT_EQ(EnvironmentLocale("LC_TIME"), "de_AT");
    EXPECT_EQ(EnvironmentLocale("LC_COLLATE"), "en_GB");
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(EnvironmentLocale("LC_TIME"), "");
    setenv("LC_ALL", "sv_SE", 1);
    EXPECT_EQ(EnvironmentLocale("LC_COLLATE"), "sv_SE");
}

using FormatTest = test::GermanSettingsTest;

TEST_F(FormatTest, FormatsDateTimesWithRuntimeLetters) {
    const TFormatSettings& fs = *GetFormatSettings();
    const TABSDateTime value{Day(2011, 3, 24), Ms(14, 5, 9, 7)};
    struct Case {
        const char* format;
        const char* expected;
    };
    const Case cases[] = {
        {"dd.mm.yyyy", "24.03.2011"},
        {"d/m/yy", "24.3.11"},  // "/" is the date separator
        {"yyyy-mm-dd\"T\"hh:nn", "2011-03-24T14:05"},
        {"hh:nn:ss.zzz", "14:05:09.007"},
        {"hh:mm", "14:05"},  // m right after h means minutes
        {"mm/dd", "03.24"},
        {"h:nn am/pm", "2:05 pm"},
        {"h:nn AM/PM", "2:05 PM"},
        {"hh:nn a/p", "02:05 p"},
        {"hh:nn ampm", "02:05 PM"},
        {"dddd, d. mmmm yyyy", "Donnerstag, 24. März 2011"},
        {"'Tag' dd", "Tag 24"},
        {"ddddd", "24.03.2011"},
        {"t", "14:05"},
        {"tt", "14:05:09"},
        {"c", "24.03.2011 14:05:09"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatDateTime(c.format, value, fs), c.expected) << c.format;
    }
    EXPECT_EQ(FormatDateTime("c", TABSDateTime{Day(2011, 3, 24), 0}, fs), "24.03.2011");
    EXPECT_EQ(FormatDateTime("hh:nn am/pm", TABSDateTime{0, Ms(0, 30, 0)}, fs), "12:30 am");
    EXPECT_EQ(DateToStr(Day(2011, 3, 4), fs), "04.03.2011");
    EXPECT_EQ(TimeToStr(Ms(7, 5, 0), fs), "07:05:00");
    EXPECT_EQ(DateTimeToStr(TABSDateTime{Day(2011, 3, 4), Ms(7, 5, 0)}, fs), "04.03.2011 07:05:00");
}

TEST_F(FormatTest, ParsesDatesInTheShortDateOrder) {
    const TFormatSettings& fs = *GetFormatSettings();
    const int century = ThisYear() / 100 * 100;
    struct Case {
        const char* text;
        std::optional<std::int32_t> day;
    };
    const Case cases[] = {
        {"24.03.2011", Day(2011, 3, 24)},
        {" 24.3.2011 ", Day(2011, 3, 24)},
        {"24.03", Day(ThisYear(), 3, 24)},
        {"31.02.2011", std::nullopt},
        {"24-03-2011", std::nullopt},
        {"2011-03-24", std::nullopt},
        {"24.03.2011 14:05", std::nullopt},
        {"", std::nullopt},
        {"24.03.2011x", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryStrToDate(c.text, fs), c.day) << '"' << c.text << '"';
    }
    // Two-digit years fall within the 50 years before now and the 49 after.
    const int yy = (ThisYear() + 10) % 100;
    EXPECT_EQ(DecodeDate(*TryStrToDate("01.01." + std::to_string(yy), fs)).year,
              (yy < ThisYear() % 100 ? century + 100 : century) + yy);

    TFormatSettings us = fs;
    us.ShortDateFormat = "m/d/yyyy";
    us.DateSeparator = '/';
    EXPECT_EQ(TryStrToDate("3/24/2011", us), Day(2011, 3, 24));
    TFormatSettings iso = fs;
    iso.ShortDateFormat = "yyyy-mm-dd";
    iso.DateSeparator = '-';
    EXPECT_EQ(TryStrToDate("2011-3-24", iso), Day(2011, 3, 24));
}

TEST_F(FormatTest, ParsesTimes) {
    const TFormatSettings& fs = *GetFormatSettings();
    struct Case {
        const char* text;
        std::optional<std::int32_t> ms;
    };
    const Case cases[] = {
        {"14:05", Ms(14, 5, 0)},      {"14:05:09", Ms(14, 5, 9)}, {"2:05 PM", Ms(14, 5, 0)},
        {"12:30 am", Ms(0, 30, 0)},   {"12:30 PM", Ms(12, 30, 0)}, {"3 pm", Ms(15, 0, 0)},
        {"25:00", std::nullopt},      {"14", std::nullopt},       {"14:60", std::nullopt},
        {"13:00 PM", std::nullopt},   {"14:05x", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryStrToTime(c.text, fs), c.ms) << '"' << c.text << '"';
    }
}

TEST_F(FormatTest, ParsesDateTimes) {
    const TFormatSettings& fs = *GetFormatSettings();
    EXPECT_EQ(TryStrToDateTime("24.03.2011 14:05", fs), (TABSDateTime{Day(2011, 3, 24), Ms(14, 5, 0)}));
    EXPECT_EQ(TryStrToDateTime("24.03.2011", fs), (TABSDateTime{Day(2011, 3, 24), 0}));
    EXPECT_EQ(TryStrToDateTime("14:05", fs), (TABSDateTime{kDayFractionEpoch, Ms(14, 5, 0)}));
    EXPECT_FALSE(TryStrToDateTime("24.03.2011 25:00", fs));
    EXPECT_FALSE(TryStrToDateTime("morgen", fs));
}

TEST(IsoForms, DigitGroupsOfExactLength) {
    struct Case {
        const char* text;
        std::optional<TABSDateTime> value;
    };
    const Case cases[] = {
        {"2011-03-24 14:05:09", TABSDateTime{Day(2011, 3, 24), Ms(14, 5, 9)}},
        {"2011:03:24-14-05-09", TABSDateTime{Day(2011, 3, 24), Ms(14, 5, 9)}},
        {"2011-03-24T14:05:09", std::nullopt},
        {"2011-03-24 14:05:09 ", std::nullopt},
        {"2011-03-24 14:05", std::nullopt},
        {"2011-3-24 14:05:09", std::nullopt},
        {"2011-02-30 14:05:09", std::nullopt},
        {"2011-03-24 24:00:00", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryParseIsoDateTime(c.text), c.value) << c.text;
    }
    EXPECT_EQ(TryParseIsoDate("2011-03-24"), Day(2011, 3, 24));
    EXPECT_EQ(TryParseIsoDate("2011 03 24"), Day(2011, 3, 24));
    EXPECT_FALSE(TryParseIsoDate("2011-03-24-"));
    EXPECT_FALSE(TryParseIsoDate("11-03-24"));
    EXPECT_EQ(TryParseIsoTime("14:05:09"), Ms(14, 5, 9));
    EXPECT_FALSE(TryParseIsoTime("14:05"));
    EXPECT_FALSE(TryParseIsoTime("4:05:09"));
}

TEST(FloatText, GeneralFormatWithFifteenDigits) {
    struct Case {
        long double value;
        const char* dot;
        const char* comma;
    };
    const Case cases[] = {
        {2.5L, "2.5", "2,5"},
        {3.0L, "3", "3"},
        {-7.25L, "-7.25", "-7,25"},
        {0.1, "0.1", "0,1"},
        {1.0L / 3, "0.333333333333333", "0,333333333333333"},
        {2.0L / 3, "0.666666666666667", "0,666666666666667"},
        {1e20L, "1E20", "1E20"},
        {1e15L, "1E15", "1E15"},
        {999999999999999.0L, "999999999999999", "999999999999999"},
        {123456789012345678.0L, "1.23456789012346E17", "1,23456789012346E17"},
        {0.0001L, "0.0001", "0,0001"},
        {0.00001L, "1E-5", "1E-5"},
        {-1.5e-7L, "-1.5E-7", "-1,5E-7"},
        {0.0L, "0", "0"},
        // A Single shows the digits of its binary value, as the runtime shows them.
        {static_cast<long double>(0.1f), "0.100000001490116", "0,100000001490116"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FloatToStr(c.value, '.'), c.dot);
        EXPECT_EQ(FloatToStr(c.value, ','), c.comma);
    }
    EXPECT_EQ(FloatToStr(std::nanl(""), '.'), "NAN");
    EXPECT_EQ(FloatToStr(-HUGE_VALL, '.'), "-INF");
}

TEST(FloatText, ReadsDecimalPointWhateverTheLocale) {
    struct Case {
        const char* text;
        std::optional<long double> value;
    };
    const Case cases[] = {
        {"2.5", 2.5L},    {" 2.5 ", 2.5L},       {"+3", 3.0L},   {"-1.5e3", -1500.0L}, {"1E-2", 0.01L},
        {".5", 0.5L},     {"5.", 5.0L},          {"2,5", std::nullopt}, {"1e", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt},
        {"0x10", std::nullopt}, {"1.2.3", std::nullopt}, {"1e5000", std::nullopt}, {"2 .5", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryTextToFloat(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(TryTextToFloat("2,5", ','), 2.5L);
    EXPECT_FALSE(TryTextToFloat("2.5", ','));
}

TEST(IntegerText, DecimalAndDollarHex) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> as64;
        std::optional<std::int64_t> as32;
        std::optional<std::int64_t> asU32;
    };
    const Case cases[] = {
        {"42", 42, 42, 42},
        {"-12", -12, -12, -12},
        {"+7", 7, 7, 7},
        {"  12", 12, 12, 12},
        {"$FF", 255, 255, 255},
        {"0x1f", 31, 31, 31},
        {"-$10", -16, -16, 4294967280LL},
        {"$FFFFFFFF", 4294967295LL, -1, 4294967295LL},
        {"2147483647", 2147483647, 2147483647, 2147483647},
        {"2147483648", 2147483648LL, std::nullopt, 2147483648LL},
        {"4294967296", 4294967296LL, std::nullopt, std::nullopt},
        {"-2147483648", -2147483648LL, -2147483648LL, -2147483648LL},
        {"9223372036854775807", INT64_MAX, std::nullopt, std::nullopt},
        {"9223372036854775808", std::nullopt, std::nullopt, std::nullopt},
        {"-9223372036854775808", INT64_MIN, std::nullopt, std::nullopt},
        {"$FFFFFFFFFFFFFFFF", -1, std::nullopt, std::nullopt},
        {"12 ", std::nullopt, std::nullopt, std::nullopt},
        {"1.5", std::nullopt, std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt, std::nullopt},
        {"$", std::nullopt, std::nullopt, std::nullopt},
        {"abc", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryStrToInt64(c.text), c.as64) << '"' << c.text << '"';
        EXPECT_EQ(TryStrToInt32(c.text), c.as32) << '"' << c.text << '"';
        EXPECT_EQ(TryStrToInt32(c.text, true), c.asU32) << '"' << c.text << '"';
    }
}

TEST(ProcessSettings, SetAndResetAreSeenByLaterReaders) {
    const TFormatSettings saved = *GetFormatSettings();
    const auto before = GetFormatSettings();
    TFormatSettings custom = saved;
    custom.ShortDateFormat = "yyyy/mm/dd";
    custom.DecimalSeparator = ';';
    SetFormatSettings(custom);
    EXPECT_EQ(GetFormatSettings()->ShortDateFormat, "yyyy/mm/dd");
    EXPECT_EQ(GetFormatSettings()->DecimalSeparator, ';');
    // A snapshot taken before the change stays as it was.
    EXPECT_EQ(before->ShortDateFormat, saved.ShortDateFormat);
    SetFormatSettings(saved);
    EXPECT_EQ(GetFormatSettings()->ShortDateFormat, saved.ShortDateFormat);
}

} // namespace
} // namespace kova

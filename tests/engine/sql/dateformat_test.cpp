// TODATE / TOSTRING formats: splitting into words and literals, writing, reading, result
// types, column sizes and the reading errors.
#include "engine/core/ABSDateTime.h"
#include "engine/core/FormatSettings.h"
#include "engine/sql/ABSDateFormat.h"
#include "engine/sql/ABSSQLErrors.h"
#include "sql_test_util.h"

#include <gtest/gtest.h>

namespace kova {
namespace {

using sqltest::ErrorOf;
using W = TDateFormater::Word;

std::string Tokens(std::string_view format) {
    std::string out;
    const TDateFormater formater(format);
    for (const auto& t : formater.Tokens()) {
        if (!out.empty()) out += '|';
        out += t.word == W::Literal ? "'" + t.literal + "'" : std::string(TDateFormater::WordText(t.word));
    }
    return out;
}

TEST(DateFormatTokens, LongestWordWinsAndQuotesAreLiteral) {
    struct Case {
        const char* format;
        const char* tokens;
    };
    for (const Case c : {Case{"DD.MM.YYYY HH24:NN", "DD|'.'|MM|'.'|YYYY|' '|HH24|':'|NN"},
                         Case{"MONTH MON MM M", "MONTH|' '|MON|' '|MM|' '|M"},
                         Case{"hh12:nn ampm", "HH12|':'|NN|' '|AMPM"},
                         Case{"H24 H12 H HH", "H24|' '|H12|' '|H|' '|HH"},
                         Case{"DAY DDD DD DY DW D", "DAY|' '|DDD|' '|DD|' '|DY|' '|DW|' '|D"},
                         Case{"'at' HH24", "'at '|HH24"},
                         Case{"\"Q\"Q", "'Q'|Q"},
                         Case{"YEAR-RM", "YEAR|'-'|RM"},
                         Case{"'open", "'open'"},
                         Case{"xyz", "'xyz'"}}) {
        EXPECT_EQ(Tokens(c.format), c.tokens) << c.format;
    }
}

class DateFormatting : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = *GetFormatSettings();
        SetFormatSettings(TFormatSettings{});  // English names
    }
    void TearDown() override { SetFormatSettings(saved_); }

    static TABSDateTime At(int y, int mo, int d, int h, int mi, int s) {
        return TABSDateTime{*TryEncodeDate(y, mo, d), *TryEncodeTime(h, mi, s, 0)};
    }

    TFormatSettings saved_;
};

TEST_F(DateFormatting, WritesEveryWord) {
    const TABSDateTime thursday = At(2011, 3, 24, 14, 5, 9);
    struct Case {
        const char* format;
        const char* text;
    };
    for (const Case c : {Case{"DD.MM.YYYY HH24:NN", "24.03.2011 14:05"},
                         Case{"D.M.YY", "24.3.11"},
                         Case{"YEAR Q RM", "2011 1 III"},
                         Case{"MONTH MON", "March Mar"},
                         Case{"DAY DDD DW DY", "Thursday Thu 4 83"},
                         Case{"HH12 HH H12 H H24 NN N SS S", "02 02 2 2 14 05 5 09 9"},
                         Case{"HH12:NN AMPM", "02:05 PM"},
                         Case{"'at' HH24", "at 14"}}) {
        EXPECT_EQ(TDateFormater(c.format).Format(thursday), c.text) << c.format;
    }
    EXPECT_EQ(TDateFormater("HH12:NN AMPM").Format(At(2011, 3, 24, 12, 30, 0)), "00:30 PM");
    EXPECT_EQ(TDateFormater("HH12:NN AMPM").Format(At(2011, 3, 24, 0, 30, 0)), "00:30 AM");
    EXPECT_EQ(TDateFormater("DW").Format(At(2011, 3, 27, 0, 0, 0)), "7");  // Sunday
}

TEST_F(DateFormatting, ReadsDatesAndTimes) {
    struct Case {
        const char* format;
        const char* text;
        TABSDateTime expected;
    };
    const std::int32_t dayZero = kDayFractionEpoch;
    for (const Case c : {
             Case{"DD.MM.YYYY", "24.03.2011", At(2011, 3, 24, 0, 0, 0)},
             Case{"D.M.YYYY", "4.3.2011", At(2011, 3, 4, 0, 0, 0)},
             Case{"D.M.YYYY", "14.12.2011", At(2011, 12, 14, 0, 0, 0)},
             Case{"DD.MM.YY", "24.03.29", At(2029, 3, 24, 0, 0, 0)},
             Case{"DD.MM.YY", "24.03.30", At(1930, 3, 24, 0, 0, 0)},
             Case{"DD Q YYYY", "05 2 2011", At(2011, 4, 5, 0, 0, 0)},
             // Month names are skipped, not read: the month stays 0.
             Case{"DD MON YYYY", "24 Mar 2011", TABSDateTime{dayZero, 0}},
             Case{"DD.MM.YYYY HH24:NN:SS", "24.03.2011 14:05:09", At(2011, 3, 24, 14, 5, 9)},
             Case{"HH:NN AMPM", "2:05 pm", TABSDateTime{dayZero, *TryEncodeTime(14, 5, 0, 0)}},
             Case{"HH12:NN AMPM", "00:30 PM", TABSDateTime{dayZero, *TryEncodeTime(12, 30, 0, 0)}},
             Case{"HH12:NN AMPM", "09:30 am", TABSDateTime{dayZero, *TryEncodeTime(9, 30, 0, 0)}},
             Case{"'am' DD.MM.YYYY", "am 01.02.2003", At(2003, 2, 1, 0, 0, 0)},
             // A date part that stays 0 gives day 0, 30 December 1899.
             Case{"MM.YYYY", "03.2011", TABSDateTime{dayZero, 0}},
         }) {
        EXPECT_EQ(TDateFormater(c.format).Parse(c.text), c.expected) << c.format << " / " << c.text;
    }
}

TEST_F(DateFormatting, ReadingErrors) {
    EXPECT_EQ(ErrorOf([] { (void)TDateFormater("HH:NN AMPM").Parse("02:05 XM"); }),
              "30129: AM/PM word expected, but 'XM' found");
    EXPECT_EQ(ErrorOf([] { (void)TDateFormater("DD.MM.YYYY").Parse("2x.03.2011"); }),
              "30092: '2x' is not a valid integer value");
    EXPECT_EQ(ErrorOf([] { (void)TDateFormater("DD.MM.YYYY").Parse("31.02.2011"); }),
              "30092: '31.02.2011' is not a valid date");
    EXPECT_EQ(ErrorOf([] { (void)TDateFormater("HH24:NN").Parse("25:00"); }), "30092: '25:00' is not a valid time");
    // "PM" adds 12 hours, so 12 PM is no time.
    EXPECT_EQ(ErrorOf([] { (void)TDateFormater("HH:NN AMPM").Parse("12:00 PM"); }),
              "30092: '12:00 PM' is not a valid time");
}

TEST(DateFormatTypes, ResultTypeAndColumnSize) {
    struct Case {
        const char* format;
        TABSBaseType type;
        int size;
    };
    for (const Case c : {Case{"DD.MM.YYYY", TABSBaseType::bftDate, 10},
                         Case{"HH24:NN", TABSBaseType::bftTime, 5},
                         Case{"DD.MM.YYYY HH24:NN", TABSBaseType::bftDateTime, 16},
                         Case{"MONTH DAY", TABSBaseType::bftDate, 22},
                         Case{"MON DDD Q RM YEAR", TABSBaseType::bftDate, 19},
                         Case{"HH12:NN AMPM", TABSBaseType::bftTime, 8},
                         Case{"DY", TABSBaseType::bftDate, 2},
                         Case{"'x'", TABSBaseType::bftDateTime, 1}}) {
        const TDateFormater f(c.format);
        EXPECT_EQ(f.ParseResultType(), c.type) << c.format;
        EXPECT_EQ(f.FormatColumnSize(), c.size) << c.format;
    }
}

} // namespace
} // namespace kova

// Record identifiers: made from the creation time, moved on by one slot, read back as a time.
#include "engine/core/FormatSettings.h"
#include "model/GenSerials.h"

#include <gtest/gtest.h>

#include <string>

namespace kova::app {
namespace {

TABSDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return TABSDateTime{TryEncodeDate(year, month, day).value(), TryEncodeTime(hour, minute, second, ms).value()};
}

// The application's formats with a fixed long time format, restored afterwards.
class SerialFormats : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = *GetFormatSettings();
        TFormatSettings fs = saved_;
        fs.ShortDateFormat = "dd.mm.yyyy";
        fs.DateSeparator = '.';
        fs.LongTimeFormat = "hh:nn:ss";
        fs.TimeSeparator = ':';
        SetFormatSettings(fs);
    }
    void TearDown() override { SetFormatSettings(saved_); }

private:
    TFormatSettings saved_;
};

struct DigitsCase {
    TABSDateTime when;
    const char* digits;
};

TEST(GenSerials, DigitsAreDayNumberAndTwoSecondSlot) {
    const DigitsCase cases[] = {
        {At(1999, 9, 3, 0, 0, 0), "00000000"},      // the day the day field starts
        {At(1999, 9, 3, 0, 0, 1, 999), "00000000"}, // still the first two-second slot
        {At(1999, 9, 3, 0, 0, 2), "00000001"},
        {At(2011, 11, 14, 19, 24, 0), "11678868"},
        {At(2011, 11, 14, 23, 59, 59, 999), "1167A8BF"},  // the last slot of a day
        {At(2179, 2, 6, 12, 0, 0), "FFFF5460"},     // the last day the field holds in four digits
        {At(2179, 2, 7, 0, 0, 0), "100000000"},     // past it the field grows: at least four digits
    };
    for (const DigitsCase& c : cases) EXPECT_EQ(TGenSerials::SerialDigits(c.when), c.digits) << c.digits;
}

TEST(GenSerials, NewSerialWrapsTheDigitsInPrefixAndSuffix) {
    const TGenSerials serials([] { return At(2011, 11, 14, 19, 24, 1); });
    EXPECT_EQ(serials.NewSerial("N", ""), "N11678868");
    EXPECT_EQ(serials.NewSerial("", "-x"), "11678868-x");
}

TEST(GenSerials, NewSerialFollowsTheClock) {
    TABSDateTime now = At(2020, 1, 1, 8, 0, 0);
    const TGenSerials serials([&now] { return now; });
    const std::string first = serials.NewSerial("N", "");
    now.time += 2000;
    EXPECT_EQ(serials.NewSerial("N", ""), TGenSerials::IncSerial(first, 1));
}

struct IncCase {
    const char* serial;
    int prefixLength;
    const char* expected;
};

TEST(GenSerials, IncSerialAddsOneToTheEightDigits) {
    const IncCase cases[] = {
        {"N11678868", 1, "N11678869"},
        {"N1167FFFF", 1, "N11680000"},   // the slot field carries into the day field
        {"NFFFFFFFF", 1, "N00000000"},   // wraps around
        {"N1167886", 1, "???"},          // seven digits
        {"N1167886a", 1, "???"},         // lower-case hex digit is dropped, leaving seven
        {"N116788G8", 1, "???"},
        {"N11678868ABC", 1, "N11678869ABC"},  // everything after the eighth digit is the suffix
        {"0000000F", 0, "00000010"},
        {"XY00000009", 2, "XY0000000A"},
        {"N", 5, "???"},                 // prefix longer than the identifier
    };
    for (const IncCase& c : cases) {
        EXPECT_EQ(TGenSerials::IncSerial(c.serial, c.prefixLength), c.expected) << c.serial;
    }
}

TEST_F(SerialFormats, SerialToDateTimeReadsTheCreationTime) {
    const IncCase cases[] = {
        {"V00000001", 1, "03.09.1999 00:00:02"},
        {"N11678868", 1, "14.11.2011 19:24:00"},
        {"N11670000", 1, "14.11.2011"},           // midnight: no time
        {"N0000A8C0", 1, "04.09.1999"},           // a slot past the day's last lies in the next day
        {"N0000A8C1", 1, "04.09.1999 00:00:02"},
        {"N1167886a", 1, "???"},
        {"N1167886", 1, "???"},
        {"N11678868XYZ", 1, "14.11.2011 19:24:00"},  // only the first eight characters count
        {"11678868", 0, "14.11.2011 19:24:00"},
    };
    for (const IncCase& c : cases) {
        EXPECT_EQ(TGenSerials::SerialToDateTime(c.serial, c.prefixLength), c.expected) << c.serial;
    }
}

TEST_F(SerialFormats, NewSerialReadsBackToItsSlot) {
    const TGenSerials serials([] { return At(2024, 2, 29, 13, 37, 43, 500); });
    EXPECT_EQ(TGenSerials::SerialToDateTime(serials.NewSerial("N", ""), 1), "29.02.2024 13:37:42");
}

} // namespace
} // namespace kova::app
